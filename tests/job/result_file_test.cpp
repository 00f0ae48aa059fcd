// The result file's bytes, around lines, limbs and the writer's buffer. (The
// job's tests meet the ways writing it fails, on Windows.)
#include "job/result_file.h"

#include <gtest/gtest.h>

#include "tests/job/job_test_support.h"

namespace {

class ResultFileTest : public testing::Test {
protected:
    static void SetUpTestSuite() { folder = new std::string(ScratchFolder()); }
    static void TearDownTestSuite() { delete folder; }
    static std::string* folder;

    // Writes n! (through a buffer of `bufferSize` bytes when given) and
    // returns the file's bytes.
    static std::string WriteAndRead(unsigned long n, size_t bufferSize = 0) {
        const std::string path = *folder + "f" + std::to_string(n) + ".txt";
        EXPECT_TRUE(ComputeFactorial(n)) << n;
        std::string buffer(bufferSize, '\0');
        const auto file = SystemPath(path);
        EXPECT_EQ(bufferSize ? WriteResultFileThrough(file.c_str(), n, &buffer[0], bufferSize)
                             : WriteResultFile(file.c_str(), n),
                  0)
            << n;
        EXPECT_EQ(AccRelease(), 0);
        return ReadWholeFile(path);
    }
};

std::string* ResultFileTest::folder = nullptr;

TEST_F(ResultFileTest, BytesAroundLinesLimbsAndTheBuffer) {
    // Written out by hand, so that a fault shared with the layout helper shows.
    EXPECT_EQ(WriteAndRead(0), "0!= \r\n  1\r\n");
    EXPECT_EQ(WriteAndRead(5), "5!= \r\n120\r\n");
    EXPECT_EQ(WriteAndRead(25), "25!= \r\n 15511210043330985984000000\r\n");
    // 46! and 47! fill exactly one line (two leading spaces / none), 48! and
    // 50! spill into a second, 20! and 25! cross a limb boundary in the first.
    for (unsigned long n : {1ul, 10ul, 20ul, 46ul, 47ul, 48ul, 50ul, 1000ul, 3000ul}) {
        EXPECT_EQ(WriteAndRead(n), ExpectedResultFile(n, ExpectedDigits(n))) << n;
    }
    // Buffers that the file fills exactly, all but one byte, one byte over,
    // and ones far smaller than a line.
    const std::string whole = ExpectedResultFile(3000, ExpectedDigits(3000));
    for (size_t size : {whole.size() - 1, whole.size(), whole.size() + 1, whole.size() / 2,
                        size_t{1}, size_t{7}}) {
        EXPECT_EQ(WriteAndRead(3000, size), whole) << "buffer of " << size;
    }
}

}  // namespace
