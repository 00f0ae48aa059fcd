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

// The writer cuts the file into parts formatted apart: two ranges that meet anywhere (in the
// header, inside a group or a limb, between CR and LF, on the last partial line) give the file.
// 50! pads with a space and ends in a partial line; 400! has fourteen full lines before its own.
TEST_F(ResultFileTest, RangesMeetingAnywhereGiveTheFile) {
    for (unsigned long n : {50ul, 400ul}) {
        ASSERT_TRUE(ComputeFactorial(n));
        const std::string whole = ExpectedResultFile(n, ExpectedDigits(n));
        const ResultFileLayout layout = LayOutResultFile(n);
        ASSERT_EQ(layout.totalBytes, whole.size());
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            std::string out(whole.size() + 1, '#');  // each part must stop at its end
            FormatResultBytes(layout, &out[0], 0, cut);
            ASSERT_EQ(out[cut], '#') << n << "! cut at " << cut;
            FormatResultBytes(layout, &out[cut], cut, whole.size());
            ASSERT_EQ(out, whole + '#') << n << "! cut at " << cut;
        }
        EXPECT_EQ(AccRelease(), 0);
    }
}

}  // namespace
