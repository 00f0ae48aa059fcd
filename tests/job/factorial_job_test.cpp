// The job as the program runs it: a hidden main window gets the end command,
// reports talk to it while holding the semaphore, a ticker runs on its timer.
#include "job/factorial_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/limb_groups.h"
#include "engine/row_team.h"
#include "engine/size_estimates.h"
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

void Record(const std::string& e) {
    std::lock_guard<std::mutex> hold(eventsLock);
    events.push_back(e);
}

std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> hold(eventsLock);
    return std::exchange(events, {});
}

int reportDelayMs = 0;  // how long a report holds the semaphore

// Like the real reports: reads the job state, then changes the UI through
// SendMessageA while it holds the semaphore.
void Report(const char* name) {
    SendMessageA(window, kTouchWindow, 0, 0);
    for (int waited = 0; waited < reportDelayMs; waited += 20) {
        Sleep(20);
        SendMessageA(window, kTouchWindow, 0, 0);
    }
    std::string e = name;
    e += " computing=" + std::to_string(jobState.computing.load());
    if (std::string(name) == "failed") e += " id=" + std::to_string(jobState.errorMessageId.load());
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

std::atomic<int> ticks{0};
std::atomic<int> skippedTicks{0};

std::atomic<int> tickerCalls{0};

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
std::atomic<int> releases{0};
bool failRelease = false;
int CountedRelease() {
    ++releases;
    const int result = AccRelease();
    EXPECT_EQ(result, 0);
    return failRelease ? 1 : result;
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

// Multiplier at which the seams below act, and the group that held it.
uint64_t actAt = 0;
uint64_t actedInGroupEndingAt = 0;

// What the main window would see in the middle of the loop.
std::atomic<int> computingInLoop{-1};
std::atomic<int> setUpInLoop{-1};

bool Holds(uint64_t first, uint64_t last) {
    if (first > actAt || actAt > last) return false;
    actedInGroupEndingAt = last;
    return true;
}

int StopDuringGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    const int status = AccMultiplyGroup(first, last, reached);
    if (Holds(first, last)) {
        computingInLoop = jobState.computing.load();
        setUpInLoop = JobIsSetUp() ? 1 : 0;
        // The user presses Stop; its thread sets the flag a little later.
        SendMessageA(window, kAskToStop, 0, 0);
        for (int i = 0; i < 5000 && jobState.stopFlag.load() == 0; ++i) Sleep(1);
    }
    return status;
}

int DivideByZeroDuringGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    volatile uint64_t divisor = Holds(first, last) ? 0 : 1;
    volatile uint64_t q = 1000 / divisor;
    (void)q;
    return AccMultiplyGroup(first, last, reached);
}

int IllegalInstructionDuringGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    if (Holds(first, last)) __asm__ volatile("ud2");
    return AccMultiplyGroup(first, last, reached);
}

// A page nobody may touch (address 0 is not reliably out of bounds under Wine).
int* ForbiddenPage() {
    static int* page = static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS));
    return page;
}

int AccessViolationDuringGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    if (Holds(first, last)) *static_cast<volatile int*>(ForbiddenPage()) = 1;
    return AccMultiplyGroup(first, last, reached);
}

int statusToReturn = 1;
int StatusAfterGroup(uint64_t first, uint64_t last, uint64_t* reached) {
    const int status = AccMultiplyGroup(first, last, reached);
    return Holds(first, last) ? statusToReturn : status;
}

// A row kernel that faults on any thread but the worker; the worker's own
// part waits until a helper has claimed one, so that a helper's part faults
// whatever the scheduling.
DWORD workerThreadId;
std::atomic<int> helperClaimed{0};
int FaultOffTheWorker(uint64_t*, uint64_t, uint64_t, uint64_t* carry) {
    *carry = 0;
    if (GetCurrentThreadId() != workerThreadId) {
        helperClaimed = 1;
        *static_cast<volatile int*>(ForbiddenPage()) = 1;
    }
    for (int i = 0; i < 10000 && helperClaimed.load() == 0; ++i) Sleep(1);
    return 0;
}

// A pass split across the team, on a row of its own, whose helper's part faults.
int FaultInAHelpersPart(uint64_t first, uint64_t last, uint64_t* reached) {
    if (Holds(first, last)) {
        workerThreadId = GetCurrentThreadId();
        helperClaimed = 0;
        static uint64_t row[4 * kRowTeamMinPartLimbs];
        uint64_t carry;
        RowTeamMultiply(row, std::size(row), 1, FaultOffTheWorker, false, &carry);
    }
    return AccMultiplyGroup(first, last, reached);
}

int RefuseMemory(uint64_t) { return 1; }
// One page: 512 limbs, 9,216 digits.
int TooLittleMemory(uint64_t) { return AccAllocate(1); }
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
        TakeEvents();
    }
    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ResetSeams();
        reportDelayMs = 0;
        ticks = 0;
        skippedTicks = 0;
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

    static void ExpectIdle() {
        EXPECT_FALSE(JobIsSetUp());
        EXPECT_EQ(jobState.semaphore, nullptr);
        EXPECT_EQ(jobState.timerId, 0u);
        EXPECT_EQ(jobState.workerThread, nullptr);
        char title[64] = {};
        GetWindowTextA(window, title, sizeof(title));
        EXPECT_STREQ(title, "Quarnel for Win64");
    }

    // A plain job after whatever came before: it must start clean and finish.
    void ExpectNextJobSucceeds() {
        ResetSeams();
        const std::string path = folder + "next.txt";
        ASSERT_TRUE(RunJob(50, path));
        EXPECT_EQ(TakeEvents(), Events("finished computing=0"));
        EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(50, ExpectedDigits(50)));
        EXPECT_EQ(releases.exchange(0), 1);
        ExpectIdle();
    }
};

TEST_F(FactorialJobTest, FinishedJobsWriteTheirFileAndReportOnce) {
    for (uint64_t n : {0ull, 1ull, 47ull, 1000ull}) {
        const std::string path = folder + "finished" + std::to_string(n) + ".txt";
        WriteWholeFile(path, std::string(50000, 'z'));
        theJob.resultDigits = 0;
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
        EXPECT_TRUE(theJob.elapsed.days == 0 && theJob.elapsed.seconds == span.seconds &&
                    theJob.elapsed.milliseconds == span.milliseconds);
        EXPECT_GE(stopwatchMarks.endMark.load(), stopwatchMarks.startMark.load() + (n == 1000));
        EXPECT_EQ(releases.exchange(0), 1);
        ExpectIdle();
    }
}

TEST_F(FactorialJobTest, TickerNeverDeadlocksAgainstReportsHoldingTheSemaphore) {
    // Reports hold the semaphore for 300 ms each while talking to the UI
    // thread; the timer fires every 10 ms meanwhile.
    reportDelayMs = 300;
    const std::string path = folder + "ticked.txt";
    ASSERT_TRUE(RunJob(1000, path, 10));
    EXPECT_EQ(TakeEvents(), Events("finished computing=0"));
    EXPECT_GT(skippedTicks.load(), 0) << "no tick met a held semaphore";
    EXPECT_GT(ticks.load(), 0);
    ExpectIdle();
    // The timer died with the job: no tick comes any more.
    const int before = tickerCalls.load();
    PumpWhile(100, nullptr);
    EXPECT_EQ(tickerCalls.load(), before);
}

TEST_F(FactorialJobTest, StopEndsAfterTheCurrentGroupWithoutAFile) {
    // During an early group, and during the very last one; on one thread and
    // on two.
    const struct {
        uint64_t n, stopAt;
        unsigned threads;
    } cases[] = {{1000, 25, 1}, {1000, 47, 2}, {50, 50, 2}};
    for (const auto& c : cases) {
        const std::string path = folder + "stopped" + std::to_string(c.stopAt) + ".txt";
        DeleteFileA(path.c_str());
        actAt = c.stopAt;
        jobTestSeams.multiply = StopDuringGroup;
        jobTestSeams.teamThreads = c.threads;
        ASSERT_TRUE(RunJob(c.n, path));
        EXPECT_EQ(TakeEvents(), Events("stopped computing=0"));
        // The position is the group's last multiplier k, the digits those of k!.
        EXPECT_EQ(jobState.currentMultiplier.load(), actedInGroupEndingAt);
        EXPECT_EQ(theJob.resultDigits, static_cast<uint64_t>(EstimateDigits(actedInGroupEndingAt)));
        EXPECT_EQ(computingInLoop.exchange(-1), 1);
        EXPECT_EQ(setUpInLoop.exchange(-1), 1);
        EXPECT_FALSE(FileExists(path));
        EXPECT_EQ(releases.exchange(0), 1);
        ExpectIdle();
    }
    ExpectNextJobSucceeds();
}

TEST_F(FactorialJobTest, FaultsAndStatusesInsideTheLoopFailTheJobAndReleaseTheMemory) {
    const struct {
        int (*step)(uint64_t, uint64_t, uint64_t*);
        int status, id;
    } cases[] = {
        {DivideByZeroDuringGroup, 0, IDS_ERR_DIVIDE},
        {IllegalInstructionDuringGroup, 0, IDS_ERR_ILLEGAL},
        {AccessViolationDuringGroup, 0, IDS_ERR_ILLEGAL},
        {FaultInAHelpersPart, 0, IDS_ERR_ILLEGAL},
        {StatusAfterGroup, kAccOverflow, IDS_ERR_OVERFLOW},
        {StatusAfterGroup, 7, IDS_ERR_UNEXPECTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string path = folder + "fault" + std::to_string(c.id) + ".txt";
        DeleteFileA(path.c_str());
        actAt = 40;
        statusToReturn = c.status;
        jobTestSeams.multiply = c.step;
        jobTestSeams.teamThreads = 2;
        theJob.resultDigits = 12345;
        const int64_t endMark = stopwatchMarks.endMark.load();
        ASSERT_TRUE(RunJob(100, path));
        EXPECT_EQ(TakeEvents(), FailedWith(c.id));
        EXPECT_EQ(jobState.currentMultiplier.load(), actedInGroupEndingAt);
        if (c.step == StatusAfterGroup) {
            EXPECT_EQ(theJob.resultDigits,
                      static_cast<uint64_t>(EstimateDigits(actedInGroupEndingAt)));
        } else {
            // Neither the end mark nor the digit count is taken after a fault.
            EXPECT_EQ(theJob.resultDigits, 12345u);
            EXPECT_EQ(stopwatchMarks.endMark.load(), endMark);
        }
        EXPECT_FALSE(FileExists(path));
        EXPECT_EQ(releases.exchange(0), 1);
        ExpectIdle();
        ExpectNextJobSucceeds();
    }
}

// Too little room is a real one: a block of one page for 5000!, whose 16,326
// digits need two. It runs out at the first k whose k! needs a 513th limb.
TEST_F(FactorialJobTest, TooLittleRoomFailsAtTheExactMultiplier) {
    uint64_t first = 2;
    while (static_cast<uint64_t>(EstimateDigits(static_cast<int64_t>(first))) <= 512 * 18) ++first;
    jobTestSeams.allocate = TooLittleMemory;
    ASSERT_TRUE(RunJob(5000, folder + "room.txt"));
    EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_NO_ROOM));
    EXPECT_EQ(jobState.currentMultiplier.load(), first);
    EXPECT_EQ(jobState.multiplyStatus.load(), kAccNoRoom);
    EXPECT_LE(theJob.resultDigits, 9216u);
    EXPECT_FALSE(FileExists(folder + "room.txt"));
    EXPECT_EQ(releases.exchange(0), 1);
    ExpectNextJobSucceeds();
}

TEST_F(FactorialJobTest, MemoryThatCannotBeHadOrReturned) {
    jobTestSeams.allocate = RefuseMemory;
    ASSERT_TRUE(RunJob(100, folder + "alloc.txt"));
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"failed computing=0 id=" + std::to_string(IDS_ERR_ALLOCATE),
                                        "end"}));
    EXPECT_EQ(releases.exchange(0), 0);
    ExpectIdle();
    ExpectNextJobSucceeds();

    // A release that fails after a complete file: failed, the file stays whole.
    failRelease = true;
    const std::string path = folder + "release.txt";
    ASSERT_TRUE(RunJob(48, path));
    EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_RELEASE));
    EXPECT_EQ(ReadWholeFile(path), ExpectedResultFile(48, ExpectedDigits(48)));
    ExpectNextJobSucceeds();
}

TEST_F(FactorialJobTest, AWorkerThatCannotStartEndsTheJobAtOnce) {
    jobTestSeams.startWorker = NoThread;
    Launch(10, folder + "nothread.txt", 10);
    // Reported and torn down before StartJob returned, on this thread.
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"failed computing=0 id=2104 on-ui"}));
    ExpectIdle();
    ExpectNextJobSucceeds();
}

// A missing folder, and a destination another holder has open without sharing.
TEST_F(FactorialJobTest, ResultFileThatCannotBeWritten) {
    const std::string held = folder + "held.txt";
    HANDLE other = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    for (const std::string& path : {folder + "no-such-folder\\f.txt", held}) {
        ASSERT_TRUE(RunJob(100, path));
        EXPECT_EQ(TakeEvents(), FailedWith(IDS_ERR_WRITE)) << path;
        EXPECT_EQ(releases.exchange(0), 1);
        ExpectNextJobSucceeds();
    }
    CloseHandle(other);
    EXPECT_FALSE(FileExists(folder + "no-such-folder\\f.txt"));
    EXPECT_EQ(ReadWholeFile(held), "");
}

// Fills the drive at `root` so that exactly one page stays free.
bool FillDriveLeavingOnePage(const std::string& root) {
    const std::string keep = root + "keep.bin";
    const std::string fill = root + "fill.bin";
    DeleteFileA(fill.c_str());  // left over from an interrupted run
    std::string page(4096, 'k');
    WriteWholeFile(keep, page);
    if (ReadWholeFile(keep).size() != page.size()) return false;
    HANDLE f = CreateFileA(fill.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    std::vector<char> chunk(65536, 'f');
    DWORD written;
    for (DWORD size : {65536u, 4096u, 1u})
        while (WriteFile(f, chunk.data(), size, &written, nullptr) && written == size) continue;
    CloseHandle(f);
    return DeleteFileA(keep.c_str()) != 0;
}

TEST_F(FactorialJobTest, FullDiskDuringTheWriteLeavesThePartialFile) {
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
    EXPECT_EQ(releases.exchange(0), 1);
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
