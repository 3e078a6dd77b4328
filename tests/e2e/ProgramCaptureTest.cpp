// The real program capturing from a real PulseAudio server whose default source is a FIFO
// (run through scripts/with-sound-server.sh): what goes into the FIFO while recording is what
// "output2.caf" holds, sample for sample; and a program stopped for seconds loses none of it.
#include <QDateTime>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>

#include "tests/e2e/FifoWriter.h"
#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

TEST_F(ProgramRun, RecordingFromTheSoundServerHoldsWhatWasCaptured) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    const auto signal = risingSine(6.0);
    FifoWriter writer(fifo, signal);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);

    start({});  // the microphone: the server's default source
    send("Space\nR\n");
    const auto caf = docsPath() / "output2.caf";
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileSize(caf) > 4096 + 44100; }, 30000))
        << "nothing was recorded";
    // Ended by the key, then the program by a signal, once the recording's summary is written:
    // events, not a duration that a busy machine may use up before anything was recorded.
    send("R\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(docsPath() / "output2.txt"); }, 30000));
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("no microphone")) << stderr_.toStdString();
    EXPECT_TRUE(writer.error().empty()) << writer.error();

    // The source gives silence until the first samples reach it; then every sample counts.
    expectRunOfLoopedSignal(caf, signal);
}

// The log's rows as maps from column name to field.
std::vector<std::map<std::string, std::string>> csvRows(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        for (std::size_t at = 0, comma;; at = comma + 1) {
            comma = line.find(',', at);
            fields.push_back(line.substr(at, comma - at));
            if (comma == std::string::npos) {
                break;
            }
        }
        if (names.empty()) {
            names = fields;
        } else if (fields.size() == names.size()) {  // a row still being written is left out
            std::map<std::string, std::string> row;
            for (std::size_t c = 0; c < names.size(); ++c) {
                row[names[c]] = fields[c];
            }
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

double msOf(const std::string& utc) {
    return static_cast<double>(
        QDateTime::fromString(QString::fromStdString(utc), Qt::ISODateWithMs).toMSecsSinceEpoch());
}

TEST_F(ProgramRun, AProgramStoppedForEightSecondsLosesNoAudioAndEachSecondKeepsItsTime) {
    const char* fifo = std::getenv("FM_TEST_FIFO");
    ASSERT_NE(fifo, nullptr) << "run through scripts/with-sound-server.sh";
    FifoWriter writer(fifo, risingSine(6.0), true);
    ASSERT_TRUE(writer.opened()) << fifo << ": " << std::strerror(errno);
    const fs::path log = dir_ / "levels.csv";
    start({"--log", QString::fromStdString(log.string())});
    auto micRows = [&] {
        auto rows = csvRows(log);
        std::erase_if(rows, [](auto& row) { return row["input"] != "mic"; });
        return rows;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return micRows().size() >= 3; }, 30000)) << "no rows";
    // The whole program stops, as on a machine that stalls; the sound server keeps the audio.
    ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGSTOP), 0);
    const double stoppedMs = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    std::this_thread::sleep_for(std::chrono::seconds(8));
    ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGCONT), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto rows = micRows();
            return !rows.empty() && msOf(rows.back().at("time_utc")) > stoppedMs + 12000;
        },
        30000))
        << "no rows after the stop";
    process_.terminate();
    ASSERT_EQ(finish(), 0) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("clock stepped")) << stderr_.toStdString();
    EXPECT_FALSE(stderr_.contains("lost")) << stderr_.toStdString();

    // One row a second of audio across the stop: none missing, none bunched together. Frames
    // the server could not keep would lengthen their second's step, counted in it.
    const auto rows = micRows();
    double lost = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double lostS = std::stod(rows[i].at("lost_frames")) / 44100.0;
        lost += lostS;
        const double step = msOf(rows[i].at("time_utc")) - msOf(rows[i - 1].at("time_utc"));
        EXPECT_NEAR(step, 1000.0 + 1000.0 * lostS, 50.0) << rows[i].at("time_utc");
    }
    EXPECT_EQ(lost, 0.0);
    EXPECT_LT(msOf(rows.front().at("time_utc")), stoppedMs - 1000);
    EXPECT_GT(msOf(rows.back().at("time_utc")), stoppedMs + 12000);
}

}  // namespace
}  // namespace fm::test
