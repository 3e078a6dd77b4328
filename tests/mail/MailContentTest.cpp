// The mail's content without a window: the recording as WAV and the date body.
#include <gtest/gtest.h>
#include <unicode/timezone.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "mail/MailDate.h"
#include "mail/MailTestSupport.h"
#include "platform/audiofile/RecordingAsWav.h"

namespace fm::test {
namespace {

using std::chrono::system_clock;

system_clock::time_point utc(int y, unsigned m, unsigned d, int hour) {
    const auto day = std::chrono::sys_days(std::chrono::year(y) / m / d);
    return system_clock::time_point(day) + std::chrono::hours(hour);
}

std::string dateIn(system_clock::time_point when, const char* locale, const char* zone) {
    std::unique_ptr<icu::TimeZone> tz(icu::TimeZone::createTimeZone(zone));
    return fm::mail::formatMailDate(when, icu::Locale(locale), *tz);
}

TEST(MailDate, UsesTheCalendarYearInTheGivenLocaleAndZone) {
    EXPECT_EQ(dateIn(utc(2025, 12, 31, 12), "en_US", "UTC"), "Wednesday December 31, 2025");
    EXPECT_EQ(dateIn(utc(2026, 12, 5, 12), "en_US", "UTC"), "Saturday December 5, 2026");
    EXPECT_EQ(dateIn(utc(2021, 1, 1, 12), "en_GB", "Europe/London"), "Friday January 1, 2021");
    // The user's time zone decides the day: 02:00 UTC on New Year is still 2025 in New York.
    EXPECT_EQ(dateIn(utc(2026, 1, 1, 2), "en_US", "America/New_York"),
              "Wednesday December 31, 2025");
    EXPECT_EQ(dateIn(utc(2025, 12, 31, 12), "de_DE", "Europe/Berlin"),
              "Mittwoch Dezember 31, 2025");
}

class RecordingAsWavTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/fm-recording-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string caf() const { return (folder_ / "output2.caf").string(); }
    std::filesystem::path folder_;
};

TEST_F(RecordingAsWavTest, KeepsEverySampleOfAFinishedRecording) {
    const auto samples = rampSamples(44100 + 17);
    writeCaf(caf(), samples);
    std::vector<unsigned char> wav;
    std::string why;
    ASSERT_TRUE(recordingAsWav(caf(), &wav, &why)) << why;
    ASSERT_GE(wav.size(), 12u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 12), "WAVE");
    EXPECT_EQ(wavSamples(wav), samples);
}

TEST_F(RecordingAsWavTest, TakesARecordingInProgressAsFarAsItIsWritten) {
    SNDFILE* writer = openCafForWriting(caf());
    ASSERT_NE(writer, nullptr);
    const auto samples = rampSamples(3000);
    sf_write_short(writer, samples.data(), 1000);
    std::vector<unsigned char> wav;
    std::string why;
    ASSERT_TRUE(recordingAsWav(caf(), &wav, &why)) << why;
    EXPECT_EQ(wavSamples(wav), std::vector<short>(samples.begin(), samples.begin() + 1000));

    sf_write_short(writer, samples.data() + 1000, 2000);
    sf_close(writer);
    ASSERT_TRUE(recordingAsWav(caf(), &wav, &why)) << why;
    EXPECT_EQ(wavSamples(wav), samples);
}

TEST_F(RecordingAsWavTest, RefusesMissingEmptyAndForeignFiles) {
    std::vector<unsigned char> wav;
    std::string why;
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why, caf() + ": No such file or directory");

    SNDFILE* writer = openCafForWriting(caf());  // engine started, nothing captured yet
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why, caf() + " holds no samples yet");
    sf_close(writer);
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why, caf() + " holds no samples yet");

    std::FILE* f = std::fopen(caf().c_str(), "w");
    std::fputs("not audio at all", f);
    std::fclose(f);
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why.rfind(caf() + ": ", 0), 0u) << why;
}

TEST_F(RecordingAsWavTest, RefusesWhatItCannotMeasureWithoutHangingOrAborting) {
    std::vector<unsigned char> wav;
    std::string why;
    // A FIFO put in the recording's place: opening it must not wait for a writer.
    ASSERT_EQ(mkfifo(caf().c_str(), 0600), 0);
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why, caf() + " is not a regular file");
    std::filesystem::remove(caf());

    // A file written as a stream does not say how long it is.
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 1 -b 16 -t flac - synth 0.5 sine 300 2>/dev/null"
                           " | cat > '" +
                           caf() + "'")
                              .c_str()),
              0);
    EXPECT_FALSE(recordingAsWav(caf(), &wav, &why));
    EXPECT_EQ(why, caf() + ": the length of the recording cannot be told");
}

}  // namespace
}  // namespace fm::test
