// The test programs' main: GoogleTest, and --oracle=DIR for the reference data
// the Windows builds read.
#include <gtest/gtest.h>

#include "tests/support/oracle_data.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OracleDirFromArgs(argc, argv);
    return RUN_ALL_TESTS();
}
