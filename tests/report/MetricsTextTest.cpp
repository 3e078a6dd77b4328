// The metrics text and the log row as independent readers read them: Prometheus' own checker
// (promtool) and Python's csv module, fed with names that are not UTF-8 and values no meter
// should ever produce.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "measure/Decibels.h"
#include "measure/PeriodSummary.h"
#include "measure/MicCorrection.h"
#include "measure/RunStatistics.h"
#include "report/LevelLog.h"
#include "report/MetricsText.h"

namespace fm::report {
namespace {

using fm::measure::dbToMeanSquare;
using fm::measure::InputKind;
using fm::measure::SecondRecord;
using fm::measure::SoundLevelSnapshot;

// Runs `command` with `input` on its standard input; its exit status and output.
std::pair<int, std::string> pipeThrough(const std::string& command, const std::string& input) {
    // Its own file: the cases run as processes of their own, at the same time.
    const std::string path = ::testing::TempDir() + "fm-reader-input-" + std::to_string(::getpid());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
    std::FILE* p = ::popen((command + " < '" + path + "' 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(p);
    std::remove(path.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// A second measured at `offset` dB: LAeq,1s -30, LCeq -25 and LZeq -20 dBFS.
SecondRecord second(double offset) {
    SecondRecord r;
    r.index = 1;
    r.input = InputKind::Mic;
    r.meanSquareA = dbToMeanSquare(-30.0);
    r.meanSquareC = dbToMeanSquare(-25.0);
    r.meanSquareZ = dbToMeanSquare(-20.0);
    r.maxMeanSquareAF = dbToMeanSquare(-28.0);
    r.minMeanSquareAF = dbToMeanSquare(-33.0);
    r.peakC = 0.1;
    r.tickMeanSquareAF.fill(dbToMeanSquare(-31.0));
    r.bandMeanSquare.fill(dbToMeanSquare(-40.0));
    r.calibrated = true;
    r.calibrationOffsetDb = offset;
    return r;
}

TEST(MetricsText, FamiliesComeFromTheDescriptionAndLeaveOutWhatIsNotMeasuredNow) {
    SoundLevelSnapshot now;
    now.LAF = 74.0;
    now.LAS = 73.5;
    now.LCF = 80.0;
    now.LZF = 81.0;
    now.LAeq = 70.0;
    now.framesCaptured = 44100;
    now.calibrated = true;
    now.calibrationOffsetDb = 100.0;
    now.overloadSamples = 12;
    now.overloadSamples1s = 3;
    const SecondRecord last = second(100.0);
    fm::measure::RunStatistics run;
    run.add(last);
    MeterReading reading;
    reading.view.now = &now;
    reading.view.second = &last;
    reading.view.run = &run;
    reading.input = InputKind::Mic;
    reading.eventsTotal = 2;
    fm::measure::PeriodValues period;
    period.LAeq = 55.0;
    period.LA90 = 41.5;
    reading.view.period = &period;
    reading.period = "15m";
    const std::string text = prometheusText("roof \"north\"\n\xff", reading);
    const std::string meter = "meter=\"roof \\\"north\\\"\\n\xEF\xBF\xBD\"";
    for (const std::string& line :
         {"fieldmeter_input_up{" + meter + ",input=\"mic\"} 1",
          "fieldmeter_sound_level_db{" + meter + ",weighting=\"A\",time_weighting=\"fast\"} 74",
          "fieldmeter_sound_level_db{" + meter + ",weighting=\"A\",time_weighting=\"slow\"} 73.5",
          "fieldmeter_sound_leq_db{" + meter + ",weighting=\"A\",interval=\"1s\"} 70",
          "fieldmeter_sound_leq_db{" + meter + ",weighting=\"C\",interval=\"1s\"} 75",
          "fieldmeter_sound_leq_db{" + meter + ",weighting=\"A\",interval=\"run\"} 70",
          "fieldmeter_sound_max_db{" + meter +
              ",weighting=\"A\",time_weighting=\"fast\",interval=\"1s\"} 72",
          "fieldmeter_sound_min_db{" + meter +
              ",weighting=\"A\",time_weighting=\"fast\",interval=\"1s\"} 67",
          "fieldmeter_sound_exceeded_db{" + meter +
              ",weighting=\"A\",time_weighting=\"fast\",percent=\"90\",interval=\"run\"} 69",
          "fieldmeter_band_leq_db{" + meter + ",band_hz=\"1000\",interval=\"1s\"} 60",
          "fieldmeter_band_leq_db{" + meter + ",band_hz=\"3150\",interval=\"1s\"} 60",
          "fieldmeter_sound_leq_db{" + meter +
              ",weighting=\"A\",interval=\"period\",period=\"15m\"} 55",
          "fieldmeter_sound_exceeded_db{" + meter +
              ",weighting=\"A\",time_weighting=\"fast\",percent=\"90\",interval=\"period\","
              "period=\"15m\"} 41.5",
          "fieldmeter_overloaded{" + meter + "} 1",
          "fieldmeter_mic_correction{" + meter + "} 0",
          "fieldmeter_overload_samples_total{" + meter + "} 12",
          "fieldmeter_events_total{" + meter + "} 2"}) {
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
    }
    const auto [status, said] = pipeThrough("promtool check metrics", text);
    EXPECT_EQ(status, 0) << said << text;

    // No input: nothing of now or of the last second; the run's values stay.
    SecondRecord lost;
    lost.input = InputKind::Lost;
    reading.input = InputKind::Lost;
    reading.view.measuring = false;
    reading.view.second = &lost;
    const std::string quiet = prometheusText("roof", reading);
    EXPECT_NE(quiet.find("fieldmeter_input_up{meter=\"roof\",input=\"lost\"} 0\n"),
              std::string::npos);
    EXPECT_EQ(quiet.find("fieldmeter_sound_level_db"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("interval=\"1s\""), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("fieldmeter_overloaded{meter=\"roof\"} 0\n"), std::string::npos);
    // The microphone's correction by its file's name.
    fm::measure::setMicCorrectionInUse("unit \"7\".txt");
    const std::string corrected = prometheusText("roof", reading);
    fm::measure::setMicCorrectionInUse("");
    EXPECT_NE(corrected.find(
                  "\nfieldmeter_mic_correction{meter=\"roof\",file=\"unit \\\"7\\\".txt\"} 1\n"),
              std::string::npos)
        << corrected;
    EXPECT_NE(quiet.find("weighting=\"A\",interval=\"run\"} 70\n"), std::string::npos) << quiet;
}

TEST(MetricsText, ValuesNoMeterMakesGiveEmptyFieldsAndValidTextNeverGarbage) {
    const double extremes[] = {1e308,
                               -1e308,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min()};
    std::string csv = levelLogHeader();
    std::string metrics;
    for (const double x : extremes) {
        SecondRecord r = second(x);
        r.meanSquareA = x;
        r.meanSquareZ = -x;
        r.peakC = x;
        r.bandMeanSquare[17] = x;
        csv += levelLogRow(r, {x, x, 0});
        SoundLevelSnapshot now;
        now.LAF = now.LAS = now.LCF = now.LZF = now.LAeq = now.LCpeak = x;
        now.framesCaptured = 1;
        now.calibrated = true;
        now.calibrationOffsetDb = x;
        MeterReading reading;
        reading.view.now = &now;
        reading.view.second = &r;
        reading.input = InputKind::File;
        reading.rawLevel = x;
        const std::string text = prometheusText("m", reading);
        const auto [status, said] = pipeThrough("promtool check metrics", text);
        EXPECT_EQ(status, 0) << x << ": " << said << text;
        metrics += text;
    }
    // Every field of every row past its two times is empty or a plain finite number with two
    // decimals at most.
    const auto [status, said] = pipeThrough(
        "python3 -c \"import csv, math, re, sys\n"
        "rows = list(csv.reader(sys.stdin))\n"
        "bad = [f for row in rows[1:] for f in row[2:]\n"
        "       if f and f not in ('mic', 'file') and not re.fullmatch(r'-?\\d+(\\.\\d{1,2})?', "
        "f)]\n"
        "widths = {len(row) for row in rows}\n"
        "print(len(rows), widths, bad)\n"
        "sys.exit(0 if len(rows) == 7 and len(widths) == 1 and not bad else 1)\"",
        csv);
    EXPECT_EQ(status, 0) << said << csv;
    EXPECT_EQ(metrics.find("e+308"), std::string::npos) << metrics;
}

}  // namespace
}  // namespace fm::report
