// The job in the program's own main window: its reports write the log, its end command reaches
// OnJobEnd. Stand-ins reach the failures a healthy machine does not produce on demand.
#include "job/factorial_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/factorial_steps.h"
#include "engine/work_team.h"
#include "job/job_test_seams.h"
#include "job/stopwatch.h"
#include "tests/job/job_test_support.h"
#include "tests/ui/ui_driver.h"
#include "ui/job_reports.h"
#include "ui/main_window.h"

extern FactorialJob factorialJob;
std::vector<std::string> PaneLines();
void EmptyThePane();

namespace {

std::string folder;  // this run's scratch folder
std::atomic<int> releases{0}, computingAtEnd{-1};
bool failRelease = false;

// Counts the returns of the memory, and can fail one.
int CountedRelease() {
    ++releases;
    EXPECT_EQ(AccRelease(), 0);
    return failRelease ? 1 : 0;
}

// What the log says of the job: whether it started, the end block's first line (and error).
const std::string kFailedLine = "下記エラーが発生したので、処理を中止しました。";
std::string Ending() {
    std::vector<std::string> lines = PaneLines();
    const bool started =
        lines.size() > 3 && lines[0].find("!の計算を開始しました。") != lines[0].npos;
    if (started) lines.erase(lines.begin(), lines.begin() + 3);
    if (lines.size() < 2) return "no end";
    return (started ? "started, " : "") + lines[0] + (lines[0] == kFailedLine ? lines[1] : "");
}
std::string Finished(uint64_t n) {
    return "started, " + std::to_string(n) + "!の計算が完了しました。";
}
std::string Stopped(uint64_t n) {
    return "started, " + std::to_string(n) + "!の計算を中止しました。";
}
std::string Failed(unsigned id, bool started = true) {
    return (started ? "started, " : "") + kFailedLine + "  " + LoadString(id);
}

// What the seams do at the checkpoint `actAt`: on reaching it (atCheckpoint), or in the step to
// it (step).
enum class Act {
    kStop,
    kDivideByZero,
    kIllegalInstruction,
    kFaultInAHelper,
    kStatus,
    kWrongValue,
    kWrongValueThenStop
};
Act act;
uint64_t actAt;
int statusToReturn;
std::atomic<int> computingInLoop{-1}, setUpInLoop{-1};  // as the main window sees them

// A part that faults on any thread but the worker; the worker's part waits until a helper has
// claimed one, so that a helper's part faults whatever the scheduling.
DWORD workerThreadId;
std::atomic<int> helperClaimed{0};
void FaultOffTheWorker(void*, unsigned) {
    if (GetCurrentThreadId() != workerThreadId) {
        helperClaimed = 1;
        static void* forbidden = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS);
        *static_cast<volatile int*>(forbidden) = 1;
    }
    for (int i = 0; i < 10000 && helperClaimed.load() == 0; ++i) Sleep(1);
}

// The user presses Stop while the worker is held at the checkpoint; its thread sets the flag a
// little later.
void StopHere() {
    computingInLoop = jobState.computing.load();
    setUpInLoop = JobIsSetUp() ? 1 : 0;
    SendMessageA(mainWindowHandle, WM_COMMAND, IDM_STOP, 0);
    for (int i = 0; i < 5000 && jobState.stopFlag.load() == 0; ++i) Sleep(1);
}

void ActAtCheckpoint(uint64_t k) {
    if (k != actAt) return;
    if (act == Act::kStop || act == Act::kWrongValueThenStop) StopHere();
    if (act == Act::kDivideByZero) {
        volatile uint64_t zero = 0;
        volatile uint64_t q = 1000 / zero;
        (void)q;
    }
    if (act == Act::kIllegalInstruction) __asm__ volatile("ud2");
    if (act == Act::kFaultInAHelper) {
        workerThreadId = GetCurrentThreadId();
        helperClaimed = 0;
        TeamRun(2, FaultOffTheWorker, nullptr);
    }
}

// The step to `actAt` ends with a status, or leaves a value one off, as a fault in a product
// could.
int ActInStep(uint64_t from, uint64_t to, uint64_t* reached) {
    const int status = AccFactorialStep(from, to, reached);
    const bool wrong = act == Act::kWrongValue || act == Act::kWrongValueThenStop;
    if (to == actAt && wrong) AccBase()[AccLowIndex()] ^= 1;
    return to == actAt && act == Act::kStatus ? statusToReturn : status;
}

// Another program sends the job-end command while the job computes, once a job: it must end
// nothing (noted: whether the job is still set up, with its semaphore).
std::atomic<int> strayEndLeftJob{-1};
void SendJobEndAsAnotherProgram(uint64_t) {
    if (strayEndLeftJob.load() != -1) return;
    SendMessageW(mainWindowHandle, WM_COMMAND, IDM_JOBEND, 0);
    strayEndLeftJob = JobIsSetUp() && jobState.semaphore != nullptr;
}
int RefuseMemory(uint64_t) { return 1; }
int OnePage(uint64_t) { return AccAllocate(1); }  // 512 limbs, 9,216 digits
HANDLE NoThread(LPTHREAD_START_ROUTINE, DWORD*) { return nullptr; }

class FactorialJobTest : public testing::Test {
protected:
    static void SetUpTestSuite() { folder = ScratchFolder(); }

    static void ResetSeams() {
        jobTestSeams = JobTestSeams{};
        jobTestSeams.release = CountedRelease;
        failRelease = false;
        releases = 0;
    }
    void SetUp() override { ResetSeams(); }
    void TearDown() override { jobTestSeams = JobTestSeams{}; }

    static void Launch(uint64_t n, const std::string& path) {
        EmptyThePane();
        wcscpy(factorialJob.destinationPath, SystemPath(path).c_str());
        factorialJob.instance = mainInstance;
        jobState.mainWindow = mainWindowHandle;
        jobState.n = n;
        // The program's reports; each end report also notes what it saw.
        jobState.notifications = {
            ReportStarted, [] { computingAtEnd = jobState.computing.load(), ReportFinished(); },
            [] { computingAtEnd = jobState.computing.load(), ReportStopped(); },
            [] { computingAtEnd = jobState.computing.load(), ReportFailed(); }};
        SetWindowTextA(mainWindowHandle, "12% - busy");
        PrepareJobReports();
        StartJob(&factorialJob);
    }

    // Runs one job to its end as the program would; false if it never ended.
    static bool RunJob(uint64_t n, const std::string& path) {
        Launch(n, path);
        PumpFor(120000, [] { return !JobIsSetUp(); });  // a watchdog, not a speed limit
        return !JobIsSetUp();
    }

    // Torn down, title restored, the memory returned once, the end reported after computing.
    static void ExpectEnded(int releasesExpected = 1) {
        EXPECT_FALSE(JobIsSetUp());
        EXPECT_EQ(jobState.semaphore, nullptr);
        EXPECT_EQ(jobState.workerThread, nullptr);
        EXPECT_EQ(WindowText(mainWindowHandle), "Quarnel for Win64");
        EXPECT_EQ(releases.exchange(0), releasesExpected);
        EXPECT_EQ(computingAtEnd.exchange(-1), 0);
    }

    // A plain job after whatever came before: it must start clean and finish.
    static void ExpectNextJobSucceeds() {
        ResetSeams();
        const std::string path = folder + "next.txt";
        ASSERT_TRUE(RunJob(50, path));
        EXPECT_EQ(Ending(), Finished(50));
        EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(50, ExpectedDigits(50)));
        ExpectEnded();
    }
};

TEST_F(FactorialJobTest, FinishedJobsWriteTheirFileAndReportOnce) {
    // 65536! goes out in parts on two threads.
    for (uint64_t n : {0ull, 1ull, 47ull, 65536ull}) {
        const std::string path = folder + "finished" + std::to_string(n) + ".txt";
        WriteWholeFile(path, std::string(50000, 'z'));
        jobTestSeams.teamThreads = n == 65536 ? 2 : 0;
        jobTestSeams.atCheckpoint = SendJobEndAsAnotherProgram;  // each job after a finished one
        ASSERT_TRUE(RunJob(n, path));
        EXPECT_EQ(strayEndLeftJob.exchange(-1), 1) << n;  // 0! has its one checkpoint too
        EXPECT_EQ(Ending(), Finished(n));
        const std::string digits = ExpectedDigits(n);
        EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(n, digits)) << n;
        EXPECT_EQ(factorialJob.resultDigits, digits.size());
        EXPECT_EQ(jobState.currentMultiplier.load(), n + 1);
        EXPECT_EQ(factorialJob.estimatedDigits, static_cast<uint64_t>(EstimateDigits(n)));
        EXPECT_GE(factorialJob.allocatedBytes,
                  BytesForDigits(factorialJob.estimatedDigits) + 0x10000);
        ElapsedTime span;  // the loop's span, from the worker's marks
        ElapsedStartToEnd(&span);
        EXPECT_TRUE(factorialJob.elapsed.seconds == span.seconds &&
                    factorialJob.elapsed.milliseconds == span.milliseconds);
        EXPECT_GE(stopwatchMarks.endMark.load(), stopwatchMarks.startMark.load() + (n == 65536));
        ExpectEnded();
    }
}

// This thread looks away until the job's end report is on its way: the started report, posted
// long before, still comes first.
TEST_F(FactorialJobTest, StartedReportComesFirstWhenTheUiThreadIsLate) {
    Launch(47, folder + "late.txt");
    for (int i = 0; i < 30000 && computingAtEnd.load() == -1; ++i) Sleep(1);
    PumpFor(120000, [] { return !JobIsSetUp(); });
    EXPECT_EQ(Ending(), Finished(47));
    ExpectEnded();
}

// Stops, faults (in the worker and in a helper's part), statuses and wrong values at a
// checkpoint of 1000! (250, 500, 1000) or 100! (the only one): the job ends there without a
// file, a wrong value failing the check whether the job finished or stopped, and the next runs.
TEST_F(FactorialJobTest, StopsFaultsStatusesAndWrongValuesEndTheJobAtTheirCheckpoint) {
    const struct {
        Act act;
        uint64_t n, at;
        unsigned threads;
        int status;
        unsigned failure;  // 0: stopped
    } cases[] = {
        {Act::kStop, 1000, 250, 1, 0, 0},
        {Act::kStop, 1000, 1000, 2, 0, 0},
        {Act::kStop, 100, 100, 2, 0, 0},
        {Act::kDivideByZero, 1000, 500, 2, 0, 2102},
        {Act::kIllegalInstruction, 1000, 500, 2, 0, 2103},
        {Act::kFaultInAHelper, 1000, 500, 2, 0, 2103},
        {Act::kStatus, 1000, 500, 2, kAccOverflow, 2100},
        {Act::kStatus, 1000, 500, 1, 7, 2104},
        {Act::kWrongValue, 1000, 1000, 2, 0, 2104},
        {Act::kWrongValueThenStop, 1000, 500, 1, 0, 2104},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.failure) + " at " + std::to_string(c.at));
        const std::string path = folder + "early" + std::to_string(c.at) + ".txt";
        DeleteFileW(SystemPath(path).c_str());
        act = c.act;
        actAt = c.at;
        statusToReturn = c.status;
        jobTestSeams.atCheckpoint = ActAtCheckpoint;
        jobTestSeams.step = ActInStep;
        jobTestSeams.teamThreads = c.threads;
        factorialJob.resultDigits = 12345;
        const int64_t endMark = stopwatchMarks.endMark.load();
        ASSERT_TRUE(RunJob(c.n, path));
        EXPECT_EQ(Ending(), c.failure ? Failed(c.failure) : Stopped(c.n));
        // The position is the checkpoint k, the digits those of k!; after a fault neither the
        // end mark nor the digit count is taken.
        const bool ranToTheEnd = c.act == Act::kWrongValue;
        EXPECT_EQ(jobState.currentMultiplier.load(), ranToTheEnd ? c.n + 1 : c.at);
        const bool fault = c.failure == 2102 || c.failure == 2103;
        EXPECT_EQ(factorialJob.resultDigits,
                  fault ? 12345u : static_cast<uint64_t>(EstimateDigits(c.at)));
        if (fault) {
            EXPECT_EQ(stopwatchMarks.endMark.load(), endMark);
        }
        if (c.act == Act::kStop) {
            EXPECT_EQ(computingInLoop.exchange(-1) * 10 + setUpInLoop.exchange(-1), 11);
        }
        EXPECT_EQ(GetFileAttributesW(SystemPath(path).c_str()), INVALID_FILE_ATTRIBUTES);
        ExpectEnded();
        ExpectNextJobSucceeds();
    }
}

// A block of one page for 5000! runs out of room at the first k whose k! needs a 513th limb;
// memory (the accumulator's or the work memory) that cannot be had or given back; a worker that
// cannot start.
TEST_F(FactorialJobTest, RoomMemoryAndThreadsThatRunOut) {
    uint64_t first = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(first))) <= 512 * 18) ++first;
    jobTestSeams.allocate = OnePage;
    ASSERT_TRUE(RunJob(5000, folder + "room.txt"));
    EXPECT_EQ(Ending(), Failed(IDS_ERR_NO_ROOM));
    EXPECT_EQ(jobState.currentMultiplier.load(), first);
    EXPECT_EQ(GetFileAttributesW(SystemPath(folder + "room.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    ExpectEnded();
    ExpectNextJobSucceeds();

    jobTestSeams.allocate = RefuseMemory;
    ASSERT_TRUE(RunJob(100, folder + "alloc.txt"));
    EXPECT_EQ(Ending(), Failed(IDS_ERR_ALLOCATE, false));
    ExpectEnded(0);
    ExpectNextJobSucceeds();

    jobTestSeams.allocateWork = RefuseMemory;
    ASSERT_TRUE(RunJob(100, folder + "alloc.txt"));
    EXPECT_EQ(Ending(), Failed(IDS_ERR_ALLOCATE, false));
    ExpectEnded(1);
    ExpectNextJobSucceeds();

    // A release that fails after a complete file: failed, the file stays whole.
    failRelease = true;
    const std::string path = folder + "release.txt";
    ASSERT_TRUE(RunJob(48, path));
    EXPECT_EQ(Ending(), Failed(IDS_ERR_RELEASE));
    EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(48, ExpectedDigits(48)));
    ExpectNextJobSucceeds();

    // Reported and torn down before StartJob returned, on this thread.
    jobTestSeams.startWorker = NoThread;
    Launch(10, folder + "nothread.txt");
    EXPECT_EQ(Ending(), Failed(2104, false));
    ExpectEnded(0);
    ExpectNextJobSucceeds();
}

// Fills the drive at `root` so that exactly one page stays free.
bool FillDriveLeavingOnePage(const std::string& root) {
    DeleteFileA((root + "fill.bin").c_str());  // left over from an interrupted run
    ULARGE_INTEGER free;
    if (!GetDiskFreeSpaceExA(root.c_str(), &free, nullptr, nullptr) || free.QuadPart < 8192)
        return false;
    WriteWholeFile(root + "fill.bin", std::string(free.QuadPart - 4096, 'f'));
    return GetDiskFreeSpaceExA(root.c_str(), &free, nullptr, nullptr) && free.QuadPart == 4096;
}

// A folder that is not there; a full disk, where the file of 65536! (formatted in parts on two
// threads) goes out in one write that stores only a page: failed, with what was stored left as
// the start of the right file.
TEST_F(FactorialJobTest, ResultFileThatCannotBeWritten) {
    ASSERT_TRUE(RunJob(100, folder + "no-such-folder\\f.txt"));  // where it cannot be opened
    EXPECT_EQ(Ending(), Failed(IDS_ERR_WRITE));
    ExpectEnded();
    const char* drive = std::getenv("QRNL_FULL_DISK");
    if (drive == nullptr || *drive == '\0') {
        GTEST_SKIP() << "no small disk to fill: QRNL_FULL_DISK names none (tools/test.sh mounts "
                        "one where mounting is permitted)";
    }
    const std::string root = drive;
    ASSERT_TRUE(FillDriveLeavingOnePage(root));
    const std::string path = root + "f65536.txt";
    jobTestSeams.teamThreads = 2;
    ASSERT_TRUE(RunJob(65536, path));
    EXPECT_EQ(Ending(), Failed(IDS_ERR_WRITE));
    ExpectEnded();
    const std::string partial = ReadWholeFile(path);
    const std::string whole = ExpectedResultFile(65536, ExpectedDigits(65536));
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), whole.size());
    EXPECT_EQ(partial, whole.substr(0, partial.size()));
    DeleteFileW(SystemPath(path).c_str());
    DeleteFileA((root + "fill.bin").c_str());
    ExpectNextJobSucceeds();
}

}  // namespace
