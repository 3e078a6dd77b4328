#include "report/AlertJson.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "measure/LocalClock.h"
#include "report/JsonText.h"
#include "report/LevelLog.h"

namespace fm::report {

namespace {

using fm::measure::LimitAlert;

void key(std::string* out, const char* name) {
    if (out->back() != '{') {
        out->push_back(',');
    }
    appendJsonString(out, name);
    out->push_back(':');
}

void text(std::string* out, const char* name, std::string_view value) {
    key(out, name);
    appendJsonString(out, value);
}

void number(std::string* out, const char* name, const std::optional<double>& value, int decimals) {
    key(out, name);
    appendJsonNumber(out, value, decimals);
}

void times(std::string* out, const char* utcName, const char* localName,
           std::chrono::system_clock::time_point t) {
    text(out, utcName, utcTimeWithMilliseconds(t));
    text(out, localName, localTimeText(t));
}

const char* unitOf(bool calibrated) {
    return calibrated ? "dB" : "dBFS";
}

}  // namespace

std::string localTimeText(std::chrono::system_clock::time_point time) {
    const auto local = fm::measure::localTimeOf(time);
    if (!local) {
        return "";
    }
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time - floor<seconds>(time)).count();
    const long offset = std::labs(local->utcOffsetSeconds) / 60;
    char buffer[64];
    const int n = std::snprintf(
        buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local->year,
        local->month, local->day, local->hour, local->minute, local->second, static_cast<int>(ms),
        local->utcOffsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
    return n > 0 && n < static_cast<int>(sizeof buffer) ? std::string(buffer, std::size_t(n)) : "";
}

std::string alertLine(const LimitAlert& a) {
    auto db = [&](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f %s", v, unitOf(a.calibrated));
        return std::string(text);
    };
    const std::string local = localTimeText(a.start);
    const std::string clock = local.size() >= 19 ? local.substr(11, 8) : local;
    if (a.kind == LimitAlert::Kind::Raised) {
        std::string line = a.name + " raised: " + db(a.value) + " above " + db(a.levelDb) + " (" +
                           a.spec + ") since " + clock;
        if (a.episodesNotAlerted > 0) {
            line += "; " + std::to_string(a.episodesNotAlerted) + " episodes since the last alert";
        }
        return line;
    }
    const long seconds = std::lround(a.durationSeconds());
    return a.name + " cleared: from " + clock + " for " + std::to_string(seconds / 60) + " min " +
           std::to_string(seconds % 60) + " s, maximum " + db(a.value) +
           (a.LAeq ? ", LAeq " + db(*a.LAeq) : std::string());
}

std::string alertJson(const LimitAlert& a, const std::string& meterName) {
    const bool raised = a.kind == LimitAlert::Kind::Raised;
    std::string out = "{";
    text(&out, "alert", raised ? "raised" : "cleared");
    text(&out, "limit", a.name);
    text(&out, "spec", a.spec);
    text(&out, "meter", meterName);
    number(&out, "level", a.levelDb, 2);
    number(&out, "value", a.value, 2);
    text(&out, "unit", unitOf(a.calibrated));
    key(&out, "episode");
    out += std::to_string(a.episode);
    times(&out, "startUtc", "startLocal", a.start);
    times(&out, "timeUtc", "timeLocal", a.time);
    if (raised) {
        key(&out, "episodesNotAlerted");
        out += std::to_string(a.episodesNotAlerted);
    } else {
        times(&out, "endUtc", "endLocal", a.end);
        number(&out, "durationSeconds", a.durationSeconds(), 0);
        number(&out, "maximum", a.value, 2);
        number(&out, "LAeq", a.LAeq, 2);
    }
    if (a.coverage) {
        number(&out, "coverage", a.coverage, 3);
    }
    key(&out, "clip");
    if (a.clips.empty()) {
        out += "null";
    } else {
        appendJsonString(&out, a.clips.front());
    }
    key(&out, "clips");
    out.push_back('[');
    for (std::size_t i = 0; i < a.clips.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        appendJsonString(&out, a.clips[i]);
    }
    out += "]}";
    return out;
}

std::string alertsJson(const std::vector<LimitAlert>& alerts, const std::string& meterName) {
    std::string out = "{\"alerts\":[";
    for (std::size_t i = 0; i < alerts.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        out += alertJson(alerts[i], meterName);
    }
    return out + "]}";
}

void appendLimitStatesJson(std::string* out, const std::vector<fm::measure::LimitState>& states) {
    out->push_back('[');
    for (std::size_t i = 0; i < states.size(); ++i) {
        const fm::measure::LimitState& s = states[i];
        if (i > 0) {
            out->push_back(',');
        }
        out->push_back('{');
        text(out, "name", s.name);
        text(out, "spec", s.spec);
        number(out, "level", s.levelDb, 2);
        text(out, "unit", unitOf(s.calibrated));
        number(out, "value", s.value, 2);
        if (s.coverage) {
            number(out, "coverage", s.coverage, 3);
        }
        key(out, "inWindow");
        *out += s.inWindow ? "true" : "false";
        key(out, "held");
        *out += s.held ? "true" : "false";
        key(out, "raised");
        *out += s.raised ? "true" : "false";
        if (s.raised) {
            times(out, "sinceUtc", "sinceLocal", s.since);
        }
        key(out, "episodes");
        *out += std::to_string(s.episodes);
        key(out, "secondsOver");
        *out += std::to_string(s.secondsOver);
        out->push_back('}');
    }
    out->push_back(']');
}

}  // namespace fm::report
