#pragma once
// The steps both programs take at their start, in one place: the answers that need no
// measurement (--self-test), the checks of the input's options before anything is made
// (--channel, --mic-correction), the microphone's correction and the calibration set up, and
// the block that says what is measured and where it goes. Qt-free.
#include <functional>
#include <optional>
#include <string>

#include "instrument/DeviceOptions.h"
#include "measure/Calibration.h"
#include "measure/MicCorrection.h"

namespace fm::instrument {

using Say = std::function<void(const std::string&)>;

// --self-test: the engine's table and the whole chain's, on standard output; the exit status.
int runSelfTests();

// --channel beyond the file's channels, or a --mic-correction file that does not parse: said,
// and the exit status (2). Otherwise nothing, with the microphone's response read whole.
std::optional<int> checkInputOptions(const DeviceOptions& options,
                                     std::optional<fm::measure::MicResponse>* micResponse,
                                     const Say& say);

// The microphone's correction put before the measurement (its sensitivity calibrating when
// nothing else does), then the calibration set up from the kept one and the options; says
// what it did.
void setUpCalibration(const DeviceOptions& options,
                      const std::optional<fm::measure::MicResponse>& micResponse,
                      fm::measure::Calibration* calibration, const Say& say);

// The start block (StartBlock.h) for the input chosen and the calibration in use.
std::string startBlockNow(const std::string& program, const DeviceOptions& options,
                          const fm::measure::Calibration& calibration, const std::string& pageUrl);

}  // namespace fm::instrument
