// The real program with a microphone's calibration file: the file's sensitivity calibrates, its
// response is taken out of the sound, the log says which file, and a file that does not parse
// is refused before anything starts.
#include <QFile>
#include <fstream>

#include "tests/e2e/ProgramRunner.h"

namespace fm::test {
namespace {

using MicCorrectionRun = ProgramRun;

TEST_F(MicCorrectionRun, TheFilesSensitivityAndResponseAreUsedAndNamedInTheLog) {
    std::ofstream(docsPath() / "unit 1.txt")
        << "\"Sens Factor =-1.4dB, AGain =18dB, SERNO: 7000001\"\n* 90 degrees\n"
           "20\t0\n3000\t0\n4000\t6\n20000\t6\n";
    // 8 kHz at -20 dBFS: A-weighted 1.1 dB lower, and 6 dB lower for the microphone's +6 dB.
    ASSERT_EQ(std::system(("cd '" + docsPath().string() +
                           "' && sox -V1 -n -r 44100 -b 16 input.wav synth 3 sine 8000 vol 0.1")
                              .c_str()),
              0);
    start({"--input", docs() + "/input.wav", "--log", docs() + "/levels.csv", "--mic-correction",
           docs() + "/unit 1.txt"});
    QStringList lines;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QFile log(docs() + "/levels.csv");
            log.open(QIODevice::ReadOnly);
            lines = QString(log.readAll()).split('\n', Qt::SkipEmptyParts);
            return lines.size() >= 3;
        },
        60000));
    process_.terminate();
    ASSERT_EQ(finish(), 0);
    EXPECT_TRUE(
        stderr_.contains("calibrated from the microphone's file unit 1.txt: 0 dBFS = 113.4"))
        << stderr_.toStdString();
    EXPECT_TRUE(lines[0].endsWith(",mic_correction"));
    const QString second = lines[2];  // the second second: the filter long settled
    EXPECT_TRUE(second.endsWith(",unit 1.txt")) << second.toStdString();
    const auto laeq = lines[0].split(',').indexOf("LAeq_1s_dB");
    EXPECT_NEAR(second.section(',', laeq, laeq).toDouble(), 113.4 - 20.0 - 1.1 - 6.0, 0.2)
        << second.toStdString();

    std::ofstream(docsPath() / "bad.txt") << "\"Sens Factor =-1.4dB\"\n20 0\n3000 0 0 0\n";
    start({"--input", docs() + "/input.wav", "--mic-correction", docs() + "/bad.txt"});
    EXPECT_EQ(finish(), 2);
    EXPECT_TRUE(stderr_.contains("--mic-correction: bad.txt line 3: \"3000 0 0 0\""))
        << stderr_.toStdString();
}

}  // namespace
}  // namespace fm::test
