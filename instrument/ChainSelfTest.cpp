#include "instrument/ChainSelfTest.h"

#include <sndfile.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>

#include "measure/Measurement.h"
#include "platform/audio/FileBlockSource.h"
#include "report/Reports.h"

namespace fm::instrument {

namespace {

namespace fs = std::filesystem;
using fm::measure::SelfTestLine;
using Clock = std::chrono::system_clock;

constexpr double kRate = 44100.0;
constexpr double kToneHz = 1000.0;  // 0 dB in every weighting
// The calibration the chain is given: every level read is this much above the file's dBFS.
constexpr double kOffsetDb = 93.5;
// Where the meter counts a sample as overloaded: one 16-bit step below full scale.
constexpr float kOverload = 32767.0f / 32768.0f;
constexpr double kPi = 3.14159265358979323846;

// One generated file: a 1 kHz sine whose level changes every second (dBFS, 0 dB the level of a
// full-scale sine). Stereo files carry it in the left channel at twice the amplitude and silence
// in the right, so that their mix (the channels' mean) holds it at the level named.
struct Piece {
    const char* name;
    int format;
    int rate;
    int channels;
    std::vector<double> levels;
};

const std::vector<Piece>& pieces() {
    static const std::vector<Piece> all = {
        // No second lies more than 10 dB below the one before: the A and C weightings delay a
        // 1 kHz tone by a few samples, which a much louder second before would fill. The
        // 24-bit file's first second lies below the 16-bit range, the float file's last two
        // beyond full scale (nothing clipped), the 48 kHz file is resampled. Five of the twelve
        // seconds lie at -20 dBFS, three below and four above: the median's.
        {"24-bit stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, {-100.0, -30.0, -20.0}},
        {"16-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, {-25.0, -20.0, -20.0}},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, {-20.0, 3.0, 3.0}},
        {"48 kHz 16-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, {-5.0, -12.0, -20.0}},
    };
    return all;
}

// Writes `piece` to `path`; returns the overloaded samples of each second, or nullopt and *error.
std::optional<std::vector<std::uint64_t>> writePiece(const Piece& piece, const std::string& path,
                                                     std::string* error) {
    SF_INFO info{};
    info.samplerate = piece.rate;
    info.channels = piece.channels;
    info.format = piece.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        *error = path + ": " + sf_strerror(nullptr);
        return std::nullopt;
    }
    std::vector<std::uint64_t> overloads;
    std::vector<double> frames(static_cast<std::size_t>(piece.rate * piece.channels));
    std::int64_t at = 0;
    bool written = true;
    for (const double level : piece.levels) {
        const double amplitude = std::pow(10.0, level / 20.0);
        std::uint64_t over = 0;
        for (int n = 0; n < piece.rate; ++n, ++at) {
            const double x =
                amplitude * std::sin(2.0 * kPi * kToneHz * static_cast<double>(at) / piece.rate);
            over += std::fabs(static_cast<float>(x)) >= kOverload ? 1 : 0;
            if (piece.channels == 2) {
                frames[2 * static_cast<std::size_t>(n)] = 2.0 * x;
                frames[2 * static_cast<std::size_t>(n) + 1] = 0.0;
            } else {
                frames[static_cast<std::size_t>(n)] = x;
            }
        }
        overloads.push_back(over);
        written = written && sf_writef_double(file, frames.data(), piece.rate) == piece.rate;
    }
    if (!written || sf_close(file) != 0) {
        *error = path + ": cannot be written";
        return std::nullopt;
    }
    return overloads;
}

// A CSV file's rows by column name (no field of these files is quoted).
std::vector<std::map<std::string, std::string>> csvRows(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    auto split = [](const std::string& text) {
        std::vector<std::string> fields;
        std::stringstream s(text);
        std::string field;
        while (std::getline(s, field, ',')) {
            fields.push_back(field);
        }
        if (!text.empty() && text.back() == ',') {
            fields.emplace_back();
        }
        return fields;
    };
    if (std::getline(in, line)) {
        names = split(line);
    }
    while (std::getline(in, line)) {
        const auto fields = split(line);
        auto& row = rows.emplace_back();
        for (std::size_t i = 0; i < names.size() && i < fields.size(); ++i) {
            row[names[i]] = fields[i];
        }
    }
    return rows;
}

double numberIn(const std::map<std::string, std::string>& row, const std::string& column) {
    const auto at = row.find(column);
    if (at == row.end() || at->second.empty()) {
        return std::nan("");
    }
    return std::strtod(at->second.c_str(), nullptr);
}

// The value of quantity `key` in the live page's JSON; NaN when it has none.
double jsonValue(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("{\"key\":\"" + key + "\",");
    if (at == std::string::npos) {
        return std::nan("");
    }
    const std::size_t value = json.find("\"value\":", at);
    const std::size_t end = json.find('}', at);
    if (value == std::string::npos || value > end) {
        return std::nan("");
    }
    const char* text = json.c_str() + value + 8;
    char* after = nullptr;
    const double v = std::strtod(text, &after);
    return after == text ? std::nan("") : v;
}

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

SelfTestLine dbLine(const std::string& test, double expected, double measured, double limit) {
    SelfTestLine line;
    line.test = "Chain " + test;
    line.expected = fixed(expected, 2);
    line.measured = std::isnan(measured) ? "none" : fixed(measured, 2);
    line.tolerance = "+" + fixed(limit, 1) + "/-" + fixed(limit, 1);
    line.pass = std::fabs(measured - expected) <= limit;  // NaN fails
    return line;
}

SelfTestLine countLine(const std::string& test, double expected, double measured) {
    SelfTestLine line;
    line.test = "Chain " + test;
    line.expected = fixed(expected, 0);
    line.measured = std::isnan(measured) ? "none" : fixed(measured, 0);
    line.tolerance = "-";
    line.pass = measured == expected;
    return line;
}

SelfTestLine failLine(const std::string& test, const std::string& why) {
    SelfTestLine line;
    line.test = "Chain " + test;
    line.expected = "done";
    line.measured = why;
    line.tolerance = "-";
    return line;
}

struct Played {
    std::string error;
    std::string json;  // the live page's reading once everything was measured
    std::uint64_t framesDropped = 0;
};

// Plays every file through the input, a measurement of its own and the writers.
Played play(const fs::path& dir, const std::vector<std::string>& files,
            const fm::measure::SelfTestFault& fault) {
    Played out;
    fm::measure::Measurement measurement(kRate);
    measurement.meter().setCalibration(kOffsetDb + fault.calibrationOffsetDb, true);
    measurement.start();
    fm::report::Reports::Options options;
    options.logPath = (dir / "levels.csv").string();
    options.summaryPath = (dir / "summary.csv").string();
    options.period = fm::measure::Period::OneHour;
    std::string said;
    auto reports = fm::report::Reports::open(
        measurement, options, Clock::now(), [&](const std::string& s) { said += s + "; "; },
        &out.error);
    if (!reports) {
        return out;
    }
    measurement.setInput(fm::measure::InputKind::File);
    std::vector<float> block(4096);
    int blocks = 0;
    for (const std::string& path : files) {
        fm::platform::FileBlockSource source(path, false);
        if (!source.open(&out.error)) {
            return out;
        }
        // Blocks of the input's usual size and of an odd one, so that blocks, ticks and seconds
        // end at every offset from one another.
        while (const std::uint32_t n = source.fill(block.data(), blocks % 2 == 0 ? 1024 : 333)) {
            measurement.feed(block.data(), n);
            if (++blocks % 16 == 0) {
                measurement.settle();  // faster than real time, never faster than measured
                reports->poll(Clock::now(), {});
            }
        }
    }
    measurement.settle();
    reports->poll(Clock::now(), {});
    out.json = reports->liveNowJson("self-test", {});
    out.framesDropped = measurement.framesDropped();
    measurement.setInput(fm::measure::InputKind::Ended);
    reports.reset();  // the period under way is written
    if (!said.empty()) {
        out.error = said;
    }
    return out;
}

int localHour(Clock::time_point t) {
    const std::time_t time = Clock::to_time_t(t);
    std::tm local{};
    ::localtime_r(&time, &local);
    return local.tm_hour;
}

}  // namespace

std::vector<SelfTestLine> chainSelfTest(const fm::measure::SelfTestFault& fault) {
    std::vector<SelfTestLine> lines;
    std::string folder = (fs::temp_directory_path() / "fieldmeter-chain-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        return {failLine("temporary folder", folder + ": cannot be made")};
    }
    const fs::path dir(folder);
    std::vector<std::string> files;
    std::vector<std::vector<std::uint64_t>> overloads;
    std::string error;
    for (const Piece& piece : pieces()) {
        files.push_back((dir / (std::to_string(files.size()) + ".wav")).string());
        auto over = writePiece(piece, files.back(), &error);
        if (!over) {
            std::error_code ec;
            fs::remove_all(dir, ec);
            return {failLine("files", error)};
        }
        overloads.push_back(*over);
    }
    // The summary's period is an hour of the local clock: a run across the turn of an hour is
    // played again, so that its one period row holds every second.
    Played played;
    std::vector<std::map<std::string, std::string>> periods;
    for (int attempt = 0; attempt < 2; ++attempt) {
        fs::remove(dir / "levels.csv");
        fs::remove(dir / "summary.csv");
        const Clock::time_point start = Clock::now();
        played = play(dir, files, fault);
        periods = csvRows((dir / "summary.csv").string());
        if (localHour(start) == localHour(Clock::now())) {
            break;
        }
    }
    if (!played.error.empty()) {
        std::error_code ec;
        fs::remove_all(dir, ec);
        return {failLine("run", played.error)};
    }

    // Every second the files hold, as the log wrote it.
    std::vector<std::map<std::string, std::string>> seconds;
    for (auto& row : csvRows((dir / "levels.csv").string())) {
        if (row["input"] == "file") {
            seconds.push_back(std::move(row));
        }
    }
    std::vector<double> levels;
    std::size_t at = 0;
    for (std::size_t p = 0; p < pieces().size(); ++p) {
        const Piece& piece = pieces()[p];
        for (std::size_t s = 0; s < piece.levels.size(); ++s, ++at) {
            const double expected = piece.levels[s] + kOffsetDb;
            levels.push_back(expected);
            const auto row =
                at < seconds.size() ? seconds[at] : std::map<std::string, std::string>{};
            const std::string name = std::string(piece.name) + " second " + std::to_string(s + 1);
            lines.push_back(dbLine(name + " LAeq,1s", expected, numberIn(row, "LAeq_1s_dB"), 0.1));
            if (s + 1 == piece.levels.size() || overloads[p][s] > 0) {
                lines.push_back(countLine(name + " overload samples",
                                          static_cast<double>(overloads[p][s]),
                                          numberIn(row, "overload")));
            }
        }
    }
    lines.push_back(countLine("seconds logged with levels", static_cast<double>(levels.size()),
                              static_cast<double>(seconds.size())));
    const auto calibrated = std::count_if(seconds.begin(), seconds.end(),
                                          [](auto& row) { return row["calibrated"] == "1"; });
    lines.push_back(countLine("seconds logged as calibrated", static_cast<double>(levels.size()),
                              static_cast<double>(calibrated)));
    const auto first = seconds.empty() ? std::map<std::string, std::string>{} : seconds.front();
    lines.push_back(
        dbLine("log calibration offset", kOffsetDb, numberIn(first, "calibration_offset_db"), 0.0));
    lines.push_back(dbLine("16-bit second 3 LZeq,1s band 1 kHz", -20.0 + kOffsetDb,
                           seconds.size() > 5 ? numberIn(seconds[5], "LZeq_1s_1kHz_dB") : NAN,
                           0.2));
    // A steady second's Fast level neither rises nor falls: its least and its most are its level.
    for (const char* column : {"LAFmin_1s_dB", "LAFmax_1s_dB"}) {
        const std::string symbol = std::string(column).substr(0, 6) + ",1s";
        lines.push_back(dbLine("16-bit second 3 " + symbol, -20.0 + kOffsetDb,
                               seconds.size() > 5 ? numberIn(seconds[5], column) : NAN, 0.1));
    }
    lines.push_back(countLine("frames the ring had no room for", 0.0,
                              static_cast<double>(played.framesDropped)));

    // The run's statistics as the live page reads them, and the period's row.
    const double energy =
        std::accumulate(levels.begin(), levels.end(), 0.0,
                        [](double sum, double l) { return sum + std::pow(10.0, l / 10.0); });
    const double leq = 10.0 * std::log10(energy / static_cast<double>(levels.size()));
    const double loudest = 3.0 + kOffsetDb;
    // A sine's peak is 3.01 dB above its level; the samples of 1 kHz miss it by 0.02 dB at most.
    // A steady second's: the step into the first loud one sets the C weighting ringing.
    const double peak = loudest + 10.0 * std::log10(2.0);
    lines.push_back(dbLine("float second 3 LCpeak,1s", peak,
                           seconds.size() > 8 ? numberIn(seconds[8], "LCpeak_1s_dB") : NAN, 0.1));
    double largestPeak = NAN;
    for (const auto& row : seconds) {
        largestPeak = std::fmax(largestPeak, numberIn(row, "LCpeak_1s_dB"));
    }
    lines.push_back(dbLine("run LAeq", leq, jsonValue(played.json, "LAeq"), 0.1));
    lines.push_back(dbLine("run LAFmax", loudest, jsonValue(played.json, "LAFmax"), 0.1));
    lines.push_back(dbLine("run LCpeak re the seconds' largest", largestPeak,
                           jsonValue(played.json, "LCpeak"), 0.0));
    lines.push_back(dbLine("run LA50", -20.0 + kOffsetDb, jsonValue(played.json, "LA50"), 0.3));
    lines.push_back(countLine("period rows", 1.0, static_cast<double>(periods.size())));
    const auto period = periods.empty() ? std::map<std::string, std::string>{} : periods.back();
    lines.push_back(dbLine("period LAeq,T", leq, numberIn(period, "LAeq_T_dB"), 0.1));
    lines.push_back(dbLine("period LAFmax,T", loudest, numberIn(period, "LAFmax_T_dB"), 0.1));
    lines.push_back(countLine("period measured seconds", static_cast<double>(levels.size()),
                              numberIn(period, "measured_s")));
    lines.push_back(countLine("period overloaded seconds", 2.0, numberIn(period, "overload_s")));
    lines.push_back(dbLine("period calibration offset", kOffsetDb,
                           numberIn(period, "calibration_offset_db"), 0.0));
    // Every second is a 1 kHz tone: the run's 1 kHz band holds all of it.
    lines.push_back(dbLine("run LZeq band 1 kHz", leq, jsonValue(played.json, "LZeq_1kHz"), 0.2));

    std::error_code ec;
    fs::remove_all(dir, ec);
    return lines;
}

}  // namespace fm::instrument
