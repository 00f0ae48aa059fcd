// The job as the program runs it: a hidden main window gets the end command,
// reports talk to it while holding the semaphore, a ticker runs on its timer.
#include "job/factorial_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/row_team.h"
#include "job/job_test_seams.h"
#include "job/stopwatch.h"
#include "resources/resource_ids.h"
#include "tests/job/job_test_support.h"

namespace {

constexpr UINT kTouchWindow = WM_APP + 1;  // what a report does to the UI
constexpr UINT kAskToStop = WM_APP + 2;    // the user pressing Stop

FactorialJob theJob;
HWND window;
DWORD uiThreadId;
std::string folder;  // this run's scratch folder
std::mutex eventsLock;
std::vector<std::string> events;
int reportDelayMs = 0;  // how long a report holds the semaphore
std::atomic<int> ticks{0}, skippedTicks{0}, tickerCalls{0}, releases{0};
bool failRelease = false;

void Record(const std::string& e) {
    std::lock_guard<std::mutex> hold(eventsLock);
    events.push_back(e);
}

std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> hold(eventsLock);
    return std::exchange(events, {});
}

// Like the real reports: reads the job state, then changes the UI through
// SendMessageA while it holds the semaphore.
void Report(const std::string& name) {
    for (int waited = 0;; waited += 20) {
        SendMessageA(window, kTouchWindow, 0, 0);
        if (waited >= reportDelayMs) break;
        Sleep(20);
    }
    std::string e = name + " computing=" + std::to_string(jobState.computing.load());
    if (name == "failed") e += " id=" + std::to_string(jobState.errorMessageId.load());
    if (GetCurrentThreadId() == uiThreadId) e += " on-ui";
    Record(e);
}
void OnStarted() {
    Record("started stop=" + std::to_string(jobState.stopFlag.load()) +
           " multiplier=" + std::to_string(jobState.currentMultiplier.load()) +
           " status=" + std::to_string(jobState.multiplyStatus.load()));
    Report("started");
}
void OnFinished() { Report("finished"); }
void OnStopped() { Report("stopped"); }
void OnFailed() { Report("failed"); }

// Never waits on the semaphore for long.
void CALLBACK Ticker(HWND, UINT, UINT_PTR, DWORD) {
    ++tickerCalls;
    if (jobState.timerId == 0) return;
    if (WaitForSingleObject(jobState.semaphore, 10) != WAIT_OBJECT_0) {
        ++skippedTicks;
        return;
    }
    ++ticks;
    ReleaseSemaphore(jobState.semaphore, 1, nullptr);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDM_JOBEND) {
        Record("end");
        OnJobEnd(&theJob);
        return 0;
    }
    if (message == kTouchWindow) return 0;
    if (message == kAskToStop) {
        RequestStop();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Counts the returns of the memory, and can fail one.
int CountedRelease() {
    ++releases;
    EXPECT_EQ(AccRelease(), 0);
    return failRelease ? 1 : 0;
}

// The notifications of a job that started and ended with `ending`.
std::vector<std::string> Events(const std::string& ending) {
    return {"started stop=0 multiplier=1 status=0", "started computing=0", ending, "end"};
}
std::vector<std::string> FailedWith(int id) {
    return Events("failed computing=0 id=" + std::to_string(id));
}

// Runs the window's messages for `ms`, or while `busy` holds.
void PumpWhile(DWORD ms, bool (*busy)()) {
    const DWORD deadline = GetTickCount() + ms;
    while ((!busy || busy()) && GetTickCount() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

// What the loop seam does in the group that holds multiplier `actAt`.
enum class Act { kStop, kDivideByZero, kIllegalInstruction, kFaultInAHelper, kStatus };
Act act;
uint64_t actAt;
int statusToReturn;
uint64_t actedInGroupEndingAt;
std::atomic<int> computingInLoop{-1}, setUpInLoop{-1};  // as the main window sees them

// A row kernel that faults on any thread but the worker; the worker's own
// part waits until a helper has claimed one, so that a helper's part faults
// whatever the scheduling.
DWORD workerThreadId;
std::atomic<int> helperClaimed{0};
int FaultOffTheWorker(uint64_t*, uint64_t, uint64_t, uint64_t* carry) {
    *carry = 0;
    if (GetCurrentThreadId() != workerThreadId) {
        helperClaimed = 1;
        static void* forbidden = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS);
        *static_cast<volatile int*>(forbidden) = 1;
    }
    for (int i = 0; i < 10000 && helperClaimed.load() == 0; ++i) Sleep(1);
    return 0;
}

int ActDuringGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    const bool here = first <= actAt && actAt <= last;
    if (here) actedInGroupEndingAt = last;
    if (here && act == Act::kDivideByZero) {
        volatile uint64_t zero = 0;
        volatile uint64_t q = 1000 / zero;
        (void)q;
    }
    if (here && act == Act::kIllegalInstruction) __asm__ volatile("ud2");
    if (here && act == Act::kFaultInAHelper) {
        // A pass split across the team, on a row of its own.
        workerThreadId = GetCurrentThreadId();
        helperClaimed = 0;
        static uint64_t row[4 * kRowTeamMinPartLimbs + 16];
        const uint64_t one = 1;
        RowTeamMultiply(row, 4 * kRowTeamMinPartLimbs, &one, 1, FaultOffTheWorker);
    }
    const int status = AccMultiplyGroup(first, last, reached);
    if (here && act == Act::kStop) {
        computingInLoop = jobState.computing.load();
        setUpInLoop = JobIsSetUp() ? 1 : 0;
        // The user presses Stop; its thread sets the flag a little later.
        SendMessageA(window, kAskToStop, 0, 0);
        for (int i = 0; i < 5000 && jobState.stopFlag.load() == 0; ++i) Sleep(1);
    }
    return here && act == Act::kStatus ? statusToReturn : status;
}

int RefuseMemory(uint64_t) { return 1; }
int OnePage(uint64_t) { return AccAllocate(1); }  // 512 limbs, 9,216 digits
HANDLE NoThread(LPTHREAD_START_ROUTINE, DWORD*) { return nullptr; }

class FactorialJobTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ResetJob(&theJob);
        uiThreadId = GetCurrentThreadId();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QrnlJobTestWindow";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, wc.lpszClassName, "test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        folder = ScratchFolder();
    }
    static void TearDownTestSuite() { DestroyWindow(window); }

    static void ResetSeams() {
        jobTestSeams = JobTestSeams{};
        jobTestSeams.release = CountedRelease;
        failRelease = false;
        releases = 0;
        reportDelayMs = 0;
        TakeEvents();
    }
    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ResetSeams();
    }
    void TearDown() override { jobTestSeams = JobTestSeams{}; }

    static void Launch(uint64_t n, const std::string& path, uint32_t periodMs) {
        strcpy(theJob.destinationPath, path.c_str());
        theJob.progressProc = Ticker;
        theJob.instance = GetModuleHandleA(nullptr);
        jobState.mainWindow = window;
        jobState.n = n;
        jobState.progressIntervalMs = periodMs;
        jobState.notifications = {OnStarted, OnFinished, OnStopped, OnFailed};
        SetWindowTextA(window, "12% - busy");
        StartJob(&theJob);
    }

    // Runs one job to its end as the program would; false if it never ended.
    static bool RunJob(uint64_t n, const std::string& path, uint32_t periodMs = 0) {
        Launch(n, path, periodMs);
        PumpWhile(120000, JobIsSetUp);  // a watchdog for a hung job, not a speed limit
        return !JobIsSetUp();
    }

    // Torn down, title restored, and the memory returned once.
    static void ExpectEnded(int releasesExpected = 1) {
        EXPECT_FALSE(JobIsSetUp());
        EXPECT_EQ(jobState.semaphore, nullptr);
        EXPECT_EQ(jobState.timerId, 0u);
        EXPECT_EQ(jobState.workerThread, nullptr);
        char title[64] = {};
        GetWindowTextA(window, title, sizeof(title));
        EXPECT_STREQ(title, "Quarnel for Win64");
        EXPECT_EQ(releases.exchange(0), releasesExpected);
    }

    // A plain job after whatever came before: it must start clean and finish.
    static void ExpectNextJobSucceeds() {
        ResetSeams();
        const std::string path = folder + "next.txt";
        ASSERT_TRUE(RunJob(50, path));
        EXPECT_EQ(TakeEvents(), Events("finished computing=0"));
        EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(50, ExpectedDigits(50)));
        ExpectEnded();
    }
};

TEST_F(FactorialJobTest, FinishedJobsWriteTheirFileAndReportOnce) {
    for (uint64_t n : {0ull, 1ull, 47ull, 3000ull}) {
        const std::string path = folder + "finished" + std::to_string(n) + ".txt";
        WriteWholeFile(path, std::string(50000, 'z'));
        jobTestSeams.teamThreads = n == 3000 ? 2 : 0;
        ASSERT_TRUE(RunJob(n, path));
        EXPECT_EQ(TakeEvents(), Events("finished computing=0")) << n;
        const std::string digits = ExpectedDigits(n);
        EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(n, digits)) << n;
        EXPECT_EQ(theJob.resultDigits, digits.size());
        EXPECT_EQ(jobState.currentMultiplier.load(), n + 1);
        EXPECT_EQ(theJob.estimatedDigits, static_cast<uint64_t>(EstimateDigits(n)));
        EXPECT_GE(theJob.allocatedBytes, BytesForDigits(theJob.estimatedDigits) + 0x10000);
        ElapsedTime span;  // the loop's span, from the worker's marks
        ElapsedStartToEnd(&span);
        EXPECT_TRUE(theJob.elapsed.seconds == span.seconds &&
                    theJob.elapsed.milliseconds == span.milliseconds);
        EXPECT_GE(stopwatchMarks.endMark.load(), stopwatchMarks.startMark.load() + (n == 3000));
        ExpectEnded();
    }
}

TEST_F(FactorialJobTest, TickerNeverDeadlocksAgainstReportsHoldingTheSemaphore) {
    // Reports hold the semaphore for 300 ms each while talking to the UI
    // thread; the timer fires every 10 ms meanwhile.
    reportDelayMs = 300;
    ASSERT_TRUE(RunJob(1000, folder + "ticked.txt", 10));
    EXPECT_EQ(TakeEvents(), Events("finished computing=0"));
    EXPECT_GT(skippedTicks.load(), 0) << "no tick met a held semaphore";
    EXPECT_GT(ticks.load(), 0);
    ExpectEnded();
    // The timer died with the job: no tick comes any more.
    const int before = tickerCalls.load();
    PumpWhile(100, nullptr);
    EXPECT_EQ(tickerCalls.load(), before);
}

// Stops (during an early group, and during the last, which for 16! is 16
// alone where the vector kernels take 1 .. 15 as the first), faults (in the
// worker and in a helper's part) and statuses inside the loop: the job ends
// there without a file, and the next one runs.
TEST_F(FactorialJobTest, StopsFaultsAndStatusesEndTheJobAtTheirGroup) {
    const struct {
        Act act;
        uint64_t n, at;
        unsigned threads;
        int status;
        std::string ending;
    } cases[] = {
        {Act::kStop, 1000, 25, 1, 0, "stopped computing=0"},
        {Act::kStop, 1000, 47, 2, 0, "stopped computing=0"},
        {Act::kStop, 16, 16, 2, 0, "stopped computing=0"},
        {Act::kDivideByZero, 100, 40, 2, 0, "failed computing=0 id=2102"},
        {Act::kIllegalInstruction, 100, 40, 2, 0, "failed computing=0 id=2103"},
        {Act::kFaultInAHelper, 100, 40, 2, 0, "failed computing=0 id=2103"},
        {Act::kStatus, 100, 40, 2, kAccOverflow, "failed computing=0 id=2100"},
        {Act::kStatus, 100, 40, 1, 7, "failed computing=0 id=2104"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending + " at " + std::to_string(c.at));
        const std::string path = folder + "early" + std::to_string(c.at) + ".txt";
        DeleteFileA(path.c_str());
        act = c.act;
        actAt = c.at;
        statusToReturn = c.status;
        jobTestSeams.multiply = ActDuringGroup;
        jobTestSeams.teamThreads = c.threads;
        theJob.resultDigits = 12345;
        const int64_t endMark = stopwatchMarks.endMark.load();
        ASSERT_TRUE(RunJob(c.n, path));
        EXPECT_EQ(TakeEvents(), Events(c.ending));
        // The position is the group's last multiplier k, the digits those of
        // k!; after a fault neither the end mark nor the digit count is taken.
        EXPECT_EQ(jobState.currentMultiplier.load(), actedInGroupEndingAt);
        const bool fault = c.act != Act::kStop && c.act != Act::kStatus;
        EXPECT_EQ(theJob.resultDigits,
                  fault ? 12345u : static_cast<uint64_t>(EstimateDigits(actedInGroupEndingAt)));
        if (fault) {
            EXPECT_EQ(stopwatchMarks.endMark.load(), endMark);
        }
        if (c.act == Act::kStop) {
            EXPECT_EQ(computingInLoop.exchange(-1), 1);
            EXPECT_EQ(setUpInLoop.exchange(-1), 1);
        }
        EXPECT_FALSE(FileExists(path));
        ExpectEnded();
        ExpectNextJobSucceeds();
    }
}

// Real failures: a block of one page for 5000! runs out of room at the first
// k whose k! needs a 513th limb; memory that cannot be had or given back; a
// worker that cannot start.
TEST_F(FactorialJobTest, RoomMemoryAndThreadsThatRunOut) {
    uint64_t first = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(first))) <= 512 * 18) ++first;
    jobTestSeams.allocate = OnePage;
    ASSERT_TRUE(RunJob(5000, folder + "room.txt"));
    EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_NO_ROOM));
    EXPECT_EQ(jobState.currentMultiplier.load(), first);
    EXPECT_EQ(jobState.multiplyStatus.load(), kAccNoRoom);
    EXPECT_LE(theJob.resultDigits, 9216u);
    EXPECT_FALSE(FileExists(folder + "room.txt"));
    ExpectEnded();
    ExpectNextJobSucceeds();

    jobTestSeams.allocate = RefuseMemory;
    ASSERT_TRUE(RunJob(100, folder + "alloc.txt"));
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"failed computing=0 id=" + std::to_string(IDS_ERR_ALLOCATE),
                                        "end"}));
    ExpectEnded(0);
    ExpectNextJobSucceeds();

    // A release that fails after a complete file: failed, the file stays whole.
    failRelease = true;
    const std::string path = folder + "release.txt";
    ASSERT_TRUE(RunJob(48, path));
    EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_RELEASE));
    EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(48, ExpectedDigits(48)));
    ExpectNextJobSucceeds();

    // Reported and torn down before StartJob returned, on this thread.
    jobTestSeams.startWorker = NoThread;
    Launch(10, folder + "nothread.txt", 10);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"failed computing=0 id=2104 on-ui"}));
    ExpectEnded(0);
    ExpectNextJobSucceeds();
}

// Fills the drive at `root` so that exactly one page stays free.
bool FillDriveLeavingOnePage(const std::string& root) {
    const std::string keep = root + "keep.bin";
    const std::string fill = root + "fill.bin";
    DeleteFileA(fill.c_str());  // left over from an interrupted run
    WriteWholeFile(keep, std::string(4096, 'k'));
    if (ReadWholeFile(keep).size() != 4096) return false;
    HANDLE f = CreateFileA(fill.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::vector<char> chunk(65536, 'f');
    DWORD written;
    for (DWORD size : {65536u, 4096u, 1u})
        while (WriteFile(f, chunk.data(), size, &written, nullptr) && written == size) continue;
    CloseHandle(f);
    return DeleteFileA(keep.c_str()) != 0;
}

// A missing folder, a destination another holder has open without sharing,
// and a full disk, where the file goes out in one write that stores only a
// page: failed, with what was stored left as the start of the right file.
TEST_F(FactorialJobTest, ResultFileThatCannotBeWritten) {
    const std::string held = folder + "held.txt";
    HANDLE other = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    for (const std::string& path : {folder + "no-such-folder\\f.txt", held}) {
        ASSERT_TRUE(RunJob(100, path));
        EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_WRITE)) << path;
        ExpectEnded();
    }
    CloseHandle(other);
    EXPECT_FALSE(FileExists(folder + "no-such-folder\\f.txt"));
    EXPECT_EQ(ReadWholeFile(held), "");

    const char* drive = std::getenv("QRNL_FULL_DISK");
    if (drive == nullptr || *drive == '\0') {
        GTEST_SKIP() << "no small disk to fill: QRNL_FULL_DISK names none (tools/test.sh mounts "
                        "one where mounting is permitted)";
    }
    const std::string root = drive;
    ASSERT_TRUE(FillDriveLeavingOnePage(root));
    const std::string path = root + "f3000.txt";
    ASSERT_TRUE(RunJob(3000, path));
    EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_WRITE));
    ExpectEnded();
    const std::string partial = ReadWholeFile(path);
    const std::string whole = ExpectedResultFile(3000, ExpectedDigits(3000));
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), whole.size());
    EXPECT_EQ(partial, whole.substr(0, partial.size()));
    DeleteFileA(path.c_str());
    DeleteFileA((root + "fill.bin").c_str());
    ExpectNextJobSucceeds();
}

}  // namespace
