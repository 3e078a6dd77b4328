#include "instrument/InputChoice.h"

#include "platform/audio/AudioInputSource.h"

namespace fm::instrument {

bool hasOutputs(const fm::platform::DeviceOptions& o) {
    return !o.logFile.empty() || !o.summaryFile.empty() || o.metrics || o.eventAboveDb ||
           o.eventPeakDb || !o.mqttUrl.empty() || !o.influxUrl.empty();
}

InputChoice chooseAudioInput(const fm::platform::DeviceOptions& o, bool demoFallback,
                             const std::function<void(const std::string&)>& say) {
    using fm::platform::AudioInputSource;
    std::string why;
    if (o.input == "demo") {
        fm::platform::setAudioInputSource(AudioInputSource::demo());
        return InputChoice::Demo;
    }
    std::string problem;
    if (!o.input.empty()) {
        auto file = AudioInputSource::file(o.input);
        file.channel = o.channel;
        if (fm::platform::canOpenInput(file, &why)) {
            fm::platform::setAudioInputSource(file);
            return InputChoice::Measured;
        }
        problem = "cannot play " + o.input + ": " + why;
    } else {
        if (fm::platform::canOpenMicrophone(o.captureDevice, &why)) {
            fm::platform::setAudioInputSource(AudioInputSource::microphone(o.captureDevice));
            return InputChoice::Measured;
        }
        problem = "no microphone (" + why + ")";
    }
    if (!demoFallback || hasOutputs(o)) {
        say(problem +
            "; nothing to measure, so nothing is logged or served (--input demo "
            "plays the demo signal, which is never a measurement)");
        return InputChoice::Refused;
    }
    say(problem + "; playing the demo signal");
    fm::platform::setAudioInputSource(AudioInputSource::demo());
    return InputChoice::Demo;
}

}  // namespace fm::instrument
