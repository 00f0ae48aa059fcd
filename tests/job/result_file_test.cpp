#include "job/result_file.h"

#include <gtest/gtest.h>

#include "tests/job/job_test_support.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

class ResultFileTest : public testing::Test {
protected:
    static void SetUpTestSuite() { folder = new std::string(ScratchFolder()); }
    static void TearDownTestSuite() { delete folder; }
    static std::string* folder;

    // Writes n! through the accumulator and returns the file's bytes.
    std::string WriteAndRead(unsigned long n, const std::string& name) {
        const std::string path = *folder + name;
        EXPECT_TRUE(ComputeFactorial(n)) << n;
        EXPECT_EQ(WriteResultFile(path.c_str(), n), 0) << n;
        EXPECT_EQ(AccRelease(), 0);
        return ReadWholeFile(path);
    }
};

std::string* ResultFileTest::folder = nullptr;

TEST_F(ResultFileTest, EveryByteMatchesTheLayoutAroundLineAndLimbBoundaries) {
    // 46! and 47! fill exactly one line (two leading spaces / none), 48! and
    // 50! spill into a second, 20! and 25! cross a limb boundary inside the
    // first line, 0! and 1! are a lone digit, 5! a full first group.
    for (unsigned long n :
         {0ul, 1ul, 5ul, 10ul, 20ul, 25ul, 46ul, 47ul, 48ul, 50ul, 1000ul, 3000ul}) {
        const std::string digits = ExpectedDigits(n);
        ASSERT_FALSE(digits.empty()) << "no reference digits for " << n;
        const std::string name = "f" + std::to_string(n) + ".txt";
        EXPECT_EQ(WriteAndRead(n, name), ExpectedResultFile(n, digits)) << "N = " << n;
    }
}

TEST_F(ResultFileTest, SizesOfTheWorkedExamples) {
    // Written out by hand, so that a fault shared with the layout helper shows.
    const struct {
        unsigned long n;
        const char* text;
    } cases[] = {
        {0, "0!= \r\n  1\r\n"},
        {5, "5!= \r\n120\r\n"},
        {10, "10!= \r\n  3628800\r\n"},
        {25, "25!= \r\n 15511210043330985984000000\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WriteAndRead(c.n, "w" + std::to_string(c.n) + ".txt"), c.text) << c.n;
    }
    // 47! fills its one line to the end; 48! starts a second.
    EXPECT_EQ(WriteAndRead(47, "w47.txt").size(), 69u);
    EXPECT_EQ(WriteAndRead(48, "w48.txt").size(), 74u);
}

TEST_F(ResultFileTest, ReplacesALongerFileLeavingNoTrailingBytes) {
    const std::string path = *folder + "replace.txt";
    WriteWholeFile(path, std::string(100000, 'x'));
    ASSERT_TRUE(ComputeFactorial(10));
    EXPECT_EQ(WriteResultFile(path.c_str(), 10), 0);
    EXPECT_EQ(AccRelease(), 0);
    EXPECT_EQ(ReadWholeFile(path), "10!= \r\n  3628800\r\n");
}

TEST_F(ResultFileTest, MissingFolderFailsAndCreatesNothing) {
    const std::string path = *folder + "no-such-folder/f.txt";
    ASSERT_TRUE(ComputeFactorial(10));
    EXPECT_EQ(WriteResultFile(path.c_str(), 10), 1);
    EXPECT_EQ(AccRelease(), 0);
    EXPECT_FALSE(FileExists(path));
}

#if !defined(_WIN32)
// The stand-in must report a device that takes no bytes (the Windows build
// meets a full disk in the job tests).
TEST_F(ResultFileTest, FullDeviceFails) {
    ASSERT_TRUE(ComputeFactorial(50));
    EXPECT_EQ(WriteResultFile("/dev/full", 50), 1);
    EXPECT_EQ(AccRelease(), 0);
}

// A write that succeeds but stores only part of its piece. With a file size
// limit one byte short, only the final line break is cut, and every call
// before it succeeds in full: the file must not count as written.
TEST_F(ResultFileTest, ShortLastWriteFails) {
    const std::string path = *folder + "short.txt";
    const std::string whole = ExpectedResultFile(50, ExpectedDigits(50));
    ASSERT_TRUE(ComputeFactorial(50));
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = whole.size() - 1;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = WriteResultFile(path.c_str(), 50);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(AccRelease(), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(path), whole.substr(0, whole.size() - 1));
}
#endif

}  // namespace
