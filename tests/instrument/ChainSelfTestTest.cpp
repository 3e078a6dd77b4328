// The self-test of the whole chain passes on the program as it is, and fails where the levels it
// reads are not the files' (a calibration it was not told of).
#include <gtest/gtest.h>

#include "instrument/ChainSelfTest.h"

namespace fm::instrument {
namespace {

TEST(ChainSelfTest, EveryLinePassesAndAWrongCalibrationFailsEveryLevel) {
    const auto lines = chainSelfTest();
    EXPECT_TRUE(fm::measure::allPassed(lines));
    EXPECT_GE(lines.size(), 30u);

    for (const auto& line : chainSelfTest({0.5})) {
        if (line.test.find("LAeq") != std::string::npos) {
            EXPECT_FALSE(line.pass) << line.test;
        }
    }
}

}  // namespace
}  // namespace fm::instrument
