#pragma once
// Runs the real program without a display, as a user would, and reads what it leaves behind.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fm::test {

namespace fs = std::filesystem;

class ProgramRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("fm-e2e-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "docs");
    }
    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Starts the program without a display, with the documents folder in the test's folder
    // unless `args` name one.
    void start(QStringList args, bool headlessOption = true) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
        for (const QString& name : extraEnv_.keys()) {
            env.insert(name, extraEnv_.value(name));
        }
        process_.setProcessEnvironment(env);
        if (headlessOption) {
            args.prepend("--headless");
        }
        if (!args.contains("--documents")) {
            args << "--documents" << docs();
        }
        process_.start(FM_PROGRAM, args);
        ASSERT_TRUE(process_.waitForStarted(10000)) << process_.errorString().toStdString();
    }
    void send(const char* keys) {
        process_.write(keys);
        process_.waitForBytesWritten(1000);
    }
    // Waits for the end; returns the exit status, or -1 when it did not end in time.
    int finish(int timeoutMs = 60000) {
        if (!process_.waitForFinished(timeoutMs)) {
            return -1;
        }
        stderr_ += QString::fromUtf8(process_.readAllStandardError());
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -2;
    }
    QString docs() const { return QString::fromStdString((dir_ / "docs").string()); }
    fs::path docsPath() const { return dir_ / "docs"; }

    fs::path dir_;
    QProcessEnvironment extraEnv_;  // added to the program's environment by start()
    QProcess process_;
    QString stderr_;
};

// `seconds` of a sine with a slowly rising pitch, loud enough to be seen; as its pitch
// keeps rising, a run of a few hundred samples occurs in one place only.
inline std::vector<std::int16_t> risingSine(double seconds) {
    const int frames = static_cast<int>(seconds * 44100);
    std::vector<std::int16_t> samples(frames);
    double phase = 0.0;
    for (int i = 0; i < frames; ++i) {
        phase += 2.0 * M_PI * (300.0 + 200.0 * i / frames) / 44100.0;
        samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(phase)));
    }
    return samples;
}

// Writes the rising sine as a mono 16-bit WAV file and returns its samples.
inline std::vector<std::int16_t> writeInput(const fs::path& path, double seconds) {
    const auto samples = risingSine(seconds);
    const int frames = static_cast<int>(samples.size());
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    sf_write_short(f, samples.data(), frames);
    sf_close(f);
    return samples;
}

// Mono float samples as a 32-bit float WAV file: nothing clipped on the way in.
inline void writeFloatWav(const fs::path& path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
}

// The file's size, 0 while it does not exist.
inline std::uintmax_t fileSize(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

inline std::vector<std::int16_t> readAll(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return {};
    }
    std::vector<std::int16_t> samples(static_cast<size_t>(info.frames));
    sf_read_short(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

inline int countPixels(const QImage& image, const QRect& area,
                       const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            n += test(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// Where `recorded` begins inside `input` when it is an exact run of it; npos otherwise.
inline size_t findRun(const std::vector<std::int16_t>& input,
                      const std::vector<std::int16_t>& recorded) {
    if (recorded.size() < 256 || recorded.size() > input.size()) {
        return std::string::npos;
    }
    for (auto at = input.begin();; ++at) {
        at = std::search(at, input.end(), recorded.begin(), recorded.begin() + 256);
        if (at == input.end()) {
            return std::string::npos;
        }
        const auto offset = static_cast<size_t>(at - input.begin());
        if (offset + recorded.size() <= input.size() &&
            std::equal(recorded.begin(), recorded.end(), at)) {
            return offset;
        }
    }
}

// Samples in the recording at `caf`, read while it is still being written, from the first that
// is not silence on: what has reached the file of a signal fed into the sound server.
inline std::size_t samplesAfterSilence(const fs::path& caf) {
    std::ifstream in(caf, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto data = bytes.find("data");  // chunk type, 8-byte size, 4-byte edit count
    const auto first = data == std::string::npos ? data : bytes.find_first_not_of('\0', data + 16);
    return first == std::string::npos ? 0 : (bytes.size() - first) / 2;
}

// Checks that the recording at `caf` is, from its first sample, at least half a second of an
// exact run of `signal` played round and round into a FIFO source: the source waits for the
// FIFO and never makes silence of its own, so a leading zero was never captured.
inline void expectRunOfLoopedSignal(const fs::path& caf, const std::vector<std::int16_t>& signal) {
    const auto recorded = readAll(caf);
    ASSERT_GT(recorded.size(), 22050u);
    // The recording may span several rounds.
    std::vector<std::int16_t> rounds;
    while (rounds.size() < recorded.size() + 2 * signal.size()) {
        rounds.insert(rounds.end(), signal.begin(), signal.end());
    }
    EXPECT_NE(findRun(rounds, recorded), std::string::npos)
        << "the recording is not a run of what went into the FIFO";
}

// The program's CSV files, read back.
inline std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline QStringList logLines(const fs::path& path) {
    return QString::fromStdString(readText(path)).split('\n', Qt::SkipEmptyParts);
}

// The log's rows, each a map from column name to field; a row still being written is left out.
inline std::vector<std::map<QString, QString>> logRows(const fs::path& path) {
    const QString text = QString::fromStdString(readText(path));
    const QStringList lines = text.left(text.lastIndexOf('\n') + 1).split('\n', Qt::SkipEmptyParts);
    std::vector<std::map<QString, QString>> rows;
    if (lines.isEmpty()) {
        return rows;
    }
    const QStringList names = lines[0].split(',');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(',');
        EXPECT_EQ(fields.size(), names.size()) << lines[i].toStdString();
        std::map<QString, QString> row;
        for (qsizetype c = 0; c < std::min(fields.size(), names.size()); ++c) {
            row[names[c]] = fields[c];
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline double msOf(const QString& utc) {
    return static_cast<double>(QDateTime::fromString(utc, Qt::ISODateWithMs).toMSecsSinceEpoch());
}

}  // namespace fm::test
