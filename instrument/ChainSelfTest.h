#pragma once
// The self-test of the whole measuring chain, beside the engine's own (measure/SelfTest.h):
// generated 16-bit, 24-bit stereo, float and 48 kHz files are written to a temporary folder,
// read by the real file input faster than real time (decoding, integer and float conversion,
// the mix of the channels, resampling), measured by a measuring thread of their own through the
// ring, calibrated, and written by the real writers (the log, the summary, the live page's
// JSON). What those wrote is read back and compared with what the files hold: every second, the
// run's statistics and the period's row. One line per checked value, in the self-test's table.
#include <vector>

#include "measure/SelfTest.h"

namespace fm::instrument {

// `fault` is added to the calibration the chain is given, while the lines expect the
// calibration: a check that the lines can fail.
std::vector<fm::measure::SelfTestLine> chainSelfTest(const fm::measure::SelfTestFault& fault = {});

}  // namespace fm::instrument
