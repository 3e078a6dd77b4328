// What the live page is written from: the direction map, the JSON of a reading, and the event
// list and folders it serves files from.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "measure/MicCorrection.h"
#include "report/DirectionMap.h"
#include "report/EventList.h"
#include "report/LiveJson.h"

namespace fm::report {
namespace {

namespace fs = std::filesystem;

TEST(DirectionMap, SectorsOfTenDegreesAnticlockwiseFromZeroAndEnergyMeans) {
    for (const auto& [yaw, sector] : {std::pair{9.999, 0},
                                      {10.0, 1},
                                      {-0.001, 35},
                                      {360.0, 0},
                                      {725.0, 0},
                                      {-10.0, 35},
                                      {-10.001, 34},
                                      {NAN, -1}}) {
        EXPECT_EQ(DirectionMap::sectorOf(yaw), sector) << yaw;
    }
    DirectionMap map;
    map.add(115.0, 0.5, 100.0);     // 100 dB
    map.add(-245.0, 0.005, 110.0);  // 90 dB under another calibration, facing the same way
    EXPECT_NEAR(*map.LAeq(11), 10.0 * std::log10((1e10 + 1e9) / 2.0), 1e-9);  // not 95
    EXPECT_EQ(map.seconds(11), 2u);
    EXPECT_FALSE(map.LAeq(12).has_value());
}

TEST(LiveJson, ValuesGroupedByTheirUnitsAndNullWhenNotMeasured) {
    fm::measure::SoundLevelSnapshot now;
    now.LAF = 63.214;
    now.calibrated = true;
    now.calibrationOffsetDb = 100.0;
    now.overloadSamples = 7;
    fm::measure::SecondRecord second;  // dBFS: measured before the calibration
    second.index = 3;
    second.input = fm::measure::InputKind::Mic;
    second.meanSquareA = 0.05;
    LiveReading r;
    r.view.now = &now;
    r.view.second = &second;
    r.input = fm::measure::InputKind::Mic;
    r.calibrationDate = "2026-12-01T09:30:00Z";
    const std::string stream = liveStreamJson(r);
    EXPECT_NE(stream.find(R"("dB":{"LAF":63.21,)"), std::string::npos) << stream;
    EXPECT_NE(stream.find(R"("dBFS":{"LAeq_1s":-10.00,)"), std::string::npos) << stream;
    EXPECT_NE(stream.find(R"("LAeq_T":null)"), std::string::npos);
    EXPECT_NE(stream.find(R"("date":"2026-12-01T09:30:00Z","micCorrection":null})"),
              std::string::npos);
    fm::measure::setMicCorrectionInUse("unit.txt");
    EXPECT_NE(liveNowJson(r).find(R"("micCorrection":"unit.txt"})"), std::string::npos);
    fm::measure::setMicCorrectionInUse("");
    EXPECT_NE(stream.find(R"("lastSecond":false,"lastSecondSamples":0,"sinceStart":true,)"),
              std::string::npos);
    const std::string full = liveNowJson(r);
    EXPECT_NE(full.find(R"({"key":"LAF","symbol":"LAF","unit":"dB","statistic":"level",)"
                        R"("weighting":"A","timeWeighting":"fast","interval":"now",)"
                        R"("bandHz":null,"value":63.21})"),
              std::string::npos);
    EXPECT_NE(full.find(R"("symbol":"LZF 1 kHz","unit":"dB")"), std::string::npos);
    EXPECT_NE(full.find(R"("bandHz":1000.0,"value":null})"), std::string::npos);

    // A lost microphone: no level of now, whatever the meter still holds, and the reason.
    r.input = fm::measure::InputKind::Lost;
    r.view.measuring = false;
    const std::string lost = liveStreamJson(r);
    EXPECT_NE(lost.find(R"("dB":{"LAF":null,)"), std::string::npos) << lost;
    EXPECT_NE(lost.find(R"("state":"lost","measuring":false,"text":"no input: the microphone)"),
              std::string::npos);
}

TEST(LiveJson, SpectrumBandsOfTwoBinsWhereAFullScaleSineReadsZero) {
    EXPECT_NEAR(spectrumCentreHz(0, 44100.0), 21.533, 1e-3);
    EXPECT_NEAR(spectrumCentreHz(10, 44100.0), 452.197, 1e-3);
    EXPECT_NEAR(spectrumBandDb(0.5f * 2048 * 2048, 0.0), 0.0, 1e-6);
    EXPECT_NEAR(spectrumBandDb(0.05f * 2048 * 2048, 94.0), 84.0, 1e-5);
    EXPECT_EQ(spectrumBandDb(0.0f, 94.0), -120.0);
}

class EventFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "sub.wav");
        std::ofstream(dir_ / "a, b.wav") << "RIFF";
        fs::create_symlink("/etc/passwd", dir_ / "link.wav");
        ::mkfifo((dir_ / "fifo.wav").c_str(), 0600);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& text, std::ios::openmode mode = std::ios::trunc) {
        std::ofstream(dir_ / "events.csv", std::ios::out | mode) << text;
    }
    fs::path dir_ = fs::temp_directory_path() / ("fm-events-" + std::to_string(::getpid()));
};

TEST_F(EventFolder, RowsByColumnNameNewestFirstReadAsAppendedAndAgainWhenReplaced) {
    // Columns in another order, one more, a quoted clip name holding a comma.
    write(
        "kept,clip,start_utc,extra,LAFmax_dB,calibrated\n1,\"a, b.wav\",T1,x,81.25,1\n"
        "0,,T2,x,,0\n");
    EventList list(dir_.string());
    auto rows = list.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].startUtc, "T2");
    EXPECT_FALSE(rows[0].kept);
    EXPECT_FALSE(rows[0].LAFmax.has_value());
    EXPECT_EQ(rows[1].clip, "a, b.wav");
    EXPECT_EQ(*rows[1].LAFmax, 81.25);
    EXPECT_TRUE(rows[1].calibrated);
    write("1,\"a, b.wav\",T3,x,70,1\n1,\"a, b.wav\",T4", std::ios::app);  // T4 is half written
    EXPECT_EQ(list.rows().front().startUtc, "T3");
    EXPECT_EQ(list.total(), 3u);
    fs::remove(dir_ / "events.csv");
    write("start_utc\nT9\n");
    EXPECT_EQ(list.rows().size(), 1u);

    // Only the regular files are listed and opened, by their listed names alone.
    const ServedFolder& clips = list.clips();
    ASSERT_EQ(clips.list().size(), 1u);
    EXPECT_EQ(clips.list()[0].name, "a, b.wav");
    const int fd = clips.open("a, b.wav");
    EXPECT_GE(fd, 0);
    ::close(fd);
    const std::string absolute = (dir_ / "a, b.wav").string();
    for (const std::string& name :
         {std::string("link.wav"), std::string("fifo.wav"), std::string("sub.wav"),
          std::string("../a, b.wav"), std::string("./a, b.wav"), absolute, std::string()}) {
        EXPECT_EQ(clips.open(name), -1) << name;
    }
    EXPECT_EQ(percentEncodedSegment("a b/\xc3\xa9%.wav"), "a%20b%2F%C3%A9%25.wav");
}

}  // namespace
}  // namespace fm::report
