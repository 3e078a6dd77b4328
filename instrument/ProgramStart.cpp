#include "instrument/ProgramStart.h"

#include <cstdio>
#include <memory>

#include "instrument/ChainSelfTest.h"
#include "instrument/StartBlock.h"
#include "measure/Measurement.h"
#include "measure/SelfTest.h"
#include "platform/audio/AudioInputSource.h"
#include "platform/audio/FileBlockSource.h"
#include "platform/documents/DocumentsFolder.h"

namespace fm::instrument {

int runSelfTests() {
    // The engine on signals of its own, then the whole chain on files of its own in a temporary
    // folder: no window, sound or documents folder is touched.
    auto lines = fm::measure::runSelfTest();
    const auto chain = chainSelfTest();
    lines.insert(lines.end(), chain.begin(), chain.end());
    std::fputs(fm::measure::formatSelfTestTable(lines).c_str(), stdout);
    return fm::measure::allPassed(lines) ? 0 : 1;
}

std::optional<int> checkInputOptions(const DeviceOptions& options,
                                     std::optional<fm::measure::MicResponse>* micResponse,
                                     const Say& say) {
    if (options.channel != 0) {
        // A channel the file lacks is the user's mistake, not a file that cannot be played: no
        // demo signal in its place. A file that cannot be read falls back as without --channel.
        const int channels = fm::platform::audioFileChannels(options.input);
        if (channels > 0 && options.channel > channels) {
            say("--channel " + std::to_string(options.channel) + ": " + options.input + " has " +
                std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
                " (see --help)");
            return 2;
        }
    }
    // The microphone's file is read whole now: one that does not parse is refused at once.
    if (!options.micCorrection.empty()) {
        std::string error;
        *micResponse = fm::measure::readMicResponse(options.micCorrection, &error);
        if (!*micResponse) {
            say("--mic-correction: " + error);
            return 2;
        }
    }
    return std::nullopt;
}

void setUpCalibration(const DeviceOptions& options,
                      const std::optional<fm::measure::MicResponse>& micResponse,
                      fm::measure::Calibration* calibration, const Say& say) {
    if (micResponse) {
        fm::measure::measurement().setMicCorrection(std::make_unique<fm::measure::MicCorrection>(
            *micResponse, fm::measure::measurement().sampleRate()));
        fm::measure::setMicCorrectionInUse(micResponse->name);
        say("correcting the sound for the microphone's file " + micResponse->name);
        if (micResponse->sensFactorDb) {
            calibration->setMicrophoneFile(
                micResponse->name, fm::measure::micFileOffsetDb(*micResponse->sensFactorDb));
        }
    }
    for (const std::string& line : calibration->setUp(
             options.forgetCalibration, options.calibrationDb, options.calibrateToDb)) {
        say(line);
    }
}

std::string startBlockNow(const std::string& program, const DeviceOptions& options,
                          const fm::measure::Calibration& calibration, const std::string& pageUrl) {
    StartFacts facts;
    const auto& source = fm::platform::audioInputSource();
    facts.input = source.describe();
    if (source.kind == fm::platform::AudioInputKind::File) {
        facts.inputFile = source.path;
    }
    facts.calibration =
        calibrationInWords(calibration.calibrated(), calibration.offsetDb(), calibration.date());
    facts.pageUrl = pageUrl;
    facts.documents = fm::platform::documentsFolder();
    facts.calibrated = calibration.calibrated();
    facts.screen = program != "fieldmeter-monitor";
    return startBlock(program, options, facts);
}

}  // namespace fm::instrument
