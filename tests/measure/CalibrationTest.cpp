// The calibration object with exact control: what it accepts from the settings file, and what
// the K measurement refuses or proposes, from readings made up to sit on either side of each
// check.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "measure/Calibration.h"
#include "measure/Decibels.h"
#include "measure/EventValues.h"
#include "measure/Quantities.h"
#include "measure/RunStatistics.h"
#include "measure/SoundLevels.h"

namespace fm::measure {
namespace {

// The settings file, in memory.
class MemoryStore : public fm::platform::CalibrationStore {
  public:
    std::optional<fm::platform::StoredCalibration> kept;
    std::optional<fm::platform::StoredCalibration> load() override { return kept; }
    bool save(const fm::platform::StoredCalibration& c, std::string*) override {
        kept = c;
        return true;
    }
    bool forget(std::string*) override {
        kept.reset();
        return true;
    }
    std::string where() const override { return "settings.conf"; }
};

// A reading after `seconds` of a level of `lzf` dBFS (Fast Z), the Z energy of a steady
// `leq` dBFS since frame 0.
SoundLevelSnapshot reading(double seconds, double lzf, double leq) {
    SoundLevelSnapshot s;
    s.framesCaptured = static_cast<std::uint64_t>(std::llround(seconds * 44100.0));
    s.LZF = lzf;
    s.sumSquaresZ = dbToMeanSquare(leq) * static_cast<double>(s.framesCaptured);
    return s;
}

// Band energies with `share` of `total` in the 1 kHz band and the rest in the 2 kHz band.
std::vector<double> bands(double total, double share) {
    std::vector<double> b(30, 0.0);
    b[17] = total * share;
    b[20] = total * (1.0 - share);
    return b;
}

// Runs K over 3 s of readings: `lzf(t)` the Fast level, the Leq `leq`, `share` in one band.
struct Run {
    std::optional<Calibration::Proposal> proposal;
    std::string refusal;
};
Run calibrate(Calibration& c, double leq, double share, double (*lzf)(double) = nullptr) {
    const auto level = [&](double t) { return lzf != nullptr ? lzf(t) : leq; };
    const SoundLevelSnapshot start = reading(1.0, level(0), leq);
    EXPECT_EQ(c.start(InputKind::Mic, start, bands(start.sumSquaresZ, share)), "");
    Run run;
    for (int tick = 1; tick <= 31 && c.measuring(); ++tick) {
        const SoundLevelSnapshot now = reading(1.0 + tick * 0.1, level(tick * 0.1), leq);
        run.proposal = c.tick(InputKind::Mic, now, bands(now.sumSquaresZ, share));
    }
    run.refusal = c.refusal();
    return run;
}

TEST(Calibration, TheSettingsFileIsBelievedOnlyWithinItsLimits) {
    SoundLevelMeter meter;
    MemoryStore store;
    Calibration c(meter, store);
    const std::map<std::string, std::string> said = {
        {"60", "calibrated on 2026-12-01T09:30:00Z: 0 dBFS = 60.0 dB"},
        {"160", "calibrated on 2026-12-01T09:30:00Z: 0 dBFS = 160.0 dB"},
        {"59.99",
         "the calibration in settings.conf is ignored: offsetDb=59.99 is not between 60 "
         "and 160 dB; the levels are dBFS"},
        {"160.01",
         "the calibration in settings.conf is ignored: offsetDb=160.01 is not between "
         "60 and 160 dB; the levels are dBFS"},
        {"1e308",
         "the calibration in settings.conf is ignored: offsetDb=1e308 is not between 60 "
         "and 160 dB; the levels are dBFS"},
        {"nan",
         "the calibration in settings.conf is ignored: offsetDb=nan is not between 60 and "
         "160 dB; the levels are dBFS"},
        {"loud",
         "the calibration in settings.conf is ignored: offsetDb=loud is not a number; the "
         "levels are dBFS"},
    };
    for (const auto& [offset, line] : said) {
        store.kept = fm::platform::StoredCalibration{offset, "2026-12-01T09:30:00Z"};
        const auto lines = c.setUp(false, std::nullopt, 94.0);
        ASSERT_EQ(lines.size(), 1u) << offset;
        EXPECT_EQ(lines[0], line);
        const bool believed = offset == "60" || offset == "160";
        EXPECT_EQ(meter.read().calibrated, believed) << offset;
        EXPECT_EQ(meter.read().calibrationOffsetDb, believed ? std::stod(offset) : 0.0) << offset;
    }

    // This run's option wins and leaves the file alone; forgetting empties it.
    store.kept = fm::platform::StoredCalibration{"114.2", "2026-12-01T09:30:00Z"};
    EXPECT_EQ(c.setUp(false, 100.0, 94.0)[0], "calibration for this run: 0 dBFS = 100.0 dB");
    EXPECT_EQ(meter.read().calibrationOffsetDb, 100.0);
    const auto forgot = c.setUp(true, std::nullopt, 94.0);
    EXPECT_EQ(forgot[0],
              "the calibration kept in settings.conf is forgotten (it was 0 dBFS = 114.2 dB, set "
              "on 2026-12-01T09:30:00Z)");
    EXPECT_FALSE(store.kept.has_value());
    EXPECT_FALSE(meter.read().calibrated);
}

// The microphone's file calibrates only where neither this run's option nor K did.
TEST(Calibration, TheMicrophonesFileCalibratesWhenNothingElseDoes) {
    SoundLevelMeter meter;
    MemoryStore store;
    Calibration c(meter, store);
    c.setMicrophoneFile("unit.txt", 113.378);
    EXPECT_EQ(c.setUp(false, std::nullopt, 94.0),
              std::vector<std::string>{
                  "calibrated from the microphone's file unit.txt: 0 dBFS = 113.4 dB"});
    EXPECT_DOUBLE_EQ(meter.read().calibrationOffsetDb, 113.378);
    EXPECT_EQ(c.setUp(false, 100.0, 94.0).size(), 1u);
    EXPECT_EQ(meter.read().calibrationOffsetDb, 100.0);
    store.kept = fm::platform::StoredCalibration{"114.2", "2026-12-01T09:30:00Z"};
    c.setUp(false, std::nullopt, 94.0);
    EXPECT_EQ(meter.read().calibrationOffsetDb, 114.2);
}

TEST(Calibration, KRefusesAnythingButASteadyLoudTone) {
    SoundLevelMeter meter;
    MemoryStore store;
    Calibration c(meter, store);
    c.setUp(false, std::nullopt, 94.0);
    EXPECT_EQ(c.start(InputKind::Ended, reading(1, -20, -20), {}), "no input");
    EXPECT_EQ(c.start(InputKind::Demo, reading(1, -20, -20), {}),
              "the demo signal is not sound: calibrate from a microphone");

    c.setUp(false, std::nullopt, 80.0);  // so that -69.9 dBFS gives a plausible 149.9 dB
    EXPECT_EQ(calibrate(c, -70.1, 0.99).refusal,
              "too quiet: the reference read -70.1 dBFS, below -70 dBFS; the calibration stays "
              "as it was");
    EXPECT_TRUE(calibrate(c, -69.9, 0.99).proposal.has_value());
    c.setUp(false, std::nullopt, 94.0);
    // A level falling by 0.6 dB in the 3 s is no calibrator; 0.4 dB is one.
    EXPECT_EQ(calibrate(c, -20.0, 0.99, [](double t) { return -20.0 - 0.2 * t; }).refusal,
              "not steady: the level moved by 0.6 dB in the 3 s (at most 0.5); the calibration "
              "stays as it was");
    EXPECT_TRUE(calibrate(c, -20.0, 0.99, [](double t) { return -20.0 - 0.4 / 3.0 * t; }).proposal);
    EXPECT_EQ(calibrate(c, -20.0, 0.79).refusal,
              "not a calibrator's tone: only 79 % of the sound lies in one third-octave band (at "
              "least 80 %); the calibration stays as it was");
    // A 150 dB reference read at -5 dBFS would make 0 dBFS read 155 dB: plausible; at -15 it
    // would be 165 dB: refused.
    c.setUp(false, std::nullopt, 150.0);
    EXPECT_TRUE(calibrate(c, -5.0, 0.99).proposal.has_value());
    EXPECT_EQ(calibrate(c, -15.0, 0.99).refusal,
              "the result, 0 dBFS = 165.0 dB, is not between 60 and 160 dB; the calibration "
              "stays as it was");
    EXPECT_FALSE(meter.read().calibrated);
    EXPECT_FALSE(store.kept.has_value());
}

TEST(Calibration, AProposalNamesTheChangeSinceTheLastAndIsKeptWithItsDate) {
    SoundLevelMeter meter;
    MemoryStore store;
    Calibration c(meter, store);
    store.kept = fm::platform::StoredCalibration{"113.6", "2026-12-01T09:30:00Z"};
    c.setUp(false, std::nullopt, 94.0);
    const auto small = calibrate(c, -20.0, 0.99).proposal;
    ASSERT_TRUE(small.has_value());
    EXPECT_NEAR(small->offsetDb, 114.0, 1e-9);
    EXPECT_EQ(small->summary, "0 dBFS = 114.00 dB (the 94.0 dB reference read -20.00 dBFS)");
    EXPECT_EQ(small->drift, "+0.4 dB since 2026-12-01");
    EXPECT_FALSE(small->driftFlagged);
    // Nothing is used or kept before keep().
    EXPECT_NEAR(meter.read().calibrationOffsetDb, 113.6, 1e-9);

    const auto large = calibrate(c, -20.2, 0.99).proposal;
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->drift,
              "+0.6 dB since 2026-12-01 - more than 0.5 dB: check the microphone and the "
              "calibrator");
    EXPECT_TRUE(large->driftFlagged);

    std::string error;
    const auto when = Calibration::Clock::time_point(std::chrono::seconds(1796687417));
    ASSERT_TRUE(c.keep(*small, when, &error));
    EXPECT_EQ(store.kept->offsetDb, "114.00");
    EXPECT_EQ(store.kept->date, "2026-12-07T23:50:17Z");
    EXPECT_NEAR(meter.read().calibrationOffsetDb, 114.0, 1e-9);
    EXPECT_EQ(c.date(), "2026-12-07T23:50:17Z");
}

// Every quantity read now, of a second, of the run and of an event moves by the offset when
// the calibration is on, and says so: none stays dBFS while labelled dB.
TEST(Calibration, EveryValueOfEveryIntervalCarriesTheOffset) {
    SoundLevelMeter meter;
    std::vector<float> tone(53000);
    for (std::size_t n = 0; n < tone.size(); ++n) {
        tone[n] = static_cast<float>(0.1 * std::sin(2.0 * M_PI * 1000.0 * n / 44100.0));
    }
    meter.process(tone.data(), static_cast<std::uint32_t>(tone.size()));
    SoundLevelSnapshot now[2] = {meter.read(), {}};
    meter.setCalibration(100.0, true);
    now[1] = meter.read();
    BandLevels bands;
    bands.fastMeanSquare.fill(1e-3);
    bands.energy.fill(44.1);
    bands.frames = 44100;
    SecondRecord second[2];
    EventValues event[2];
    RunStatistics run[2];
    MeasurementView view[2];
    for (int c = 0; c < 2; ++c) {  // 0 plain, 1 calibrated
        SecondRecord& r = second[c];
        r.input = InputKind::Mic;
        r.meanSquareA = r.meanSquareC = r.meanSquareZ = r.maxMeanSquareAF = r.minMeanSquareAF =
            2e-3;
        r.peakC = 0.1;
        r.tickMeanSquareAF.fill(2e-3);
        r.bandMeanSquare.fill(1e-4);
        event[c] = {2e-3 * 4410, 4410, 3e-3, 0.2};
        r.calibrated = event[c].calibrated = c == 1;
        r.calibrationOffsetDb = event[c].calibrationOffsetDb = 100.0 * c;
        run[c].add(r);
        view[c] = {&now[c], &bands, &run[c], &r, nullptr, nullptr, &event[c]};
    }
    int checked = 0;
    for (const Quantity& q : quantities()) {
        if (q.interval == Interval::Period || q.interval == Interval::Day) {
            continue;  // summed up in dB, each second at its own calibration
        }
        const auto plain = valueOf(q, view[0]), calibrated = valueOf(q, view[1]);
        ASSERT_TRUE(plain && calibrated) << q.key;
        EXPECT_NEAR(*calibrated - *plain, 100.0, 0.051) << q.key;  // percentiles: 0.1 dB steps
        EXPECT_TRUE(calibratedOf(q, view[1]) && !calibratedOf(q, view[0])) << q.key;
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace fm::measure
