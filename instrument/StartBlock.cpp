#include "instrument/StartBlock.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/audio/RtAudioInputUnit.h"

namespace fm::instrument {

namespace {

std::string thousands(long value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

std::string channels(int n) {
    return std::to_string(n) + (n == 1 ? " channel" : " channels");
}

// A file's rate and channels as read from its header, and what is made of them. Only a regular
// file is opened: a FIFO would hold the start until a writer came.
std::string fileFormat(const std::string& path, const fm::instrument::DeviceOptions& o) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return "";
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return "";
    }
    sf_close(file);
    std::string text = thousands(info.samplerate) + " Hz";
    if (info.samplerate != 44100) {
        text += " resampled to 44,100 Hz";
    }
    text += ", " + channels(info.channels);
    if (info.channels > 1) {
        text += o.channel > 0 ? " (channel " + std::to_string(o.channel) + " measured)"
                              : " (their mean measured)";
    }
    return text;
}

// The capture device's channels, as the sound server lists it.
std::string deviceFormat(const fm::instrument::DeviceOptions& o) {
    std::string error;
    for (const auto& d : fm::platform::listCaptureDevices(&error)) {
        const bool chosen = o.captureDevice.empty()
                                ? d.isDefault
                                : d.name.find(o.captureDevice) != std::string::npos;
        if (chosen) {
            return d.api + " \"" + d.name + "\", 44,100 Hz, " +
                   channels(static_cast<int>(d.inputChannels));
        }
    }
    return "44,100 Hz";
}

}  // namespace

std::string calibrationInWords(bool calibrated, double offsetDb, const std::string& date) {
    if (!calibrated) {
        return "none: the levels are dBFS";
    }
    char text[64];
    std::snprintf(text, sizeof text, "0 dBFS = %.1f dB", offsetDb);
    return std::string(text) + (date.empty() ? " for this run" : ", calibrated on " + date) +
           "; the levels are dB";
}

std::string startBlock(const std::string& program, const fm::instrument::DeviceOptions& o,
                       const StartFacts& facts) {
    std::string block = program + ": measuring, and where it goes:\n";
    auto line = [&](const std::string& what, const std::string& text) {
        block += "  " + what + ": " + text + "\n";
    };
    std::string format;
    if (!facts.inputFile.empty()) {
        format = fileFormat(facts.inputFile, o);
    } else if (facts.input.rfind("microphone", 0) == 0) {
        format = deviceFormat(o);
    } else {
        format = "the generated demo signal, never a measurement";
    }
    line("input", facts.input + (format.empty() ? "" : ", " + format));
    line("calibration", facts.calibration);
    if (!o.logFile.empty()) {
        line("log", o.logFile + " (a row a second)");
    }
    if (!o.logFolder.empty()) {
        line("day logs", o.logFolder + "/YYYY-MM-DD.csv (a file a local day)");
    }
    if (!o.summaryFile.empty()) {
        line("summary", o.summaryFile + " (a row every " + o.period + " and every whole day)");
    }
    if (o.eventAboveDb || o.eventPeakDb) {
        std::string when;
        const std::string unit = facts.calibrated ? " dB" : " dBFS";
        char number[32];
        if (o.eventAboveDb) {
            std::snprintf(number, sizeof number, "%.1f", *o.eventAboveDb);
            when += std::string("LAF above ") + number + unit;
        }
        if (o.eventPeakDb) {
            std::snprintf(number, sizeof number, "%.1f", *o.eventPeakDb);
            when += std::string(when.empty() ? "" : " or ") + "LCpeak above " + number + unit;
        }
        std::snprintf(number, sizeof number, "%.0f", o.eventsMaxMb);
        line("events", facts.documents + "/events (" + when + "; clips up to " + number + " MB)");
    }
    if (!facts.pageUrl.empty()) {
        line("page and metrics", facts.pageUrl);
    }
    if (!o.mqttUrl.empty()) {
        line("MQTT", o.mqttUrl + (o.mqttDiscovery ? " (with Home Assistant's discovery)" : ""));
    }
    if (!o.influxUrl.empty()) {
        line("store", o.influxUrl);
    }
    if (!o.alertWebhook.empty()) {
        line("alerts by webhook", o.alertWebhook);
    }
    if (!o.alertMail.empty()) {
        line("alerts by mail", o.alertMail);
    }
    for (const std::string& limit : o.limits) {
        line("limit", limit);
    }
    if (o.mqttUrl.empty() && o.influxUrl.empty() && o.logFile.empty() && o.logFolder.empty() &&
        o.summaryFile.empty() && facts.pageUrl.empty() && !o.eventAboveDb && !o.eventPeakDb) {
        line("outputs", facts.screen ? "none but the screen"
                                     : "none: the levels go nowhere (--log, --summary, --http, "
                                       "--mqtt, --influx, --event-above)");
    }
    return block;
}

}  // namespace fm::instrument
