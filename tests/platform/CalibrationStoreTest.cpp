// The calibration as a person may leave it in the settings file: what the message shows of a
// value that is not a number.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QByteArray>
#include <filesystem>
#include <fstream>

#include "measure/Calibration.h"
#include "measure/SoundLevels.h"
#include "platform/settings/QtCalibrationStore.h"

namespace {

TEST(CalibrationStore, AValueThatIsNotANumberIsShownAsWrittenAndCutToALine) {
    // A settings file of the test's own, never the user's.
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("fm-settings-" + std::to_string(::getpid()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.string()));
    fm::platform::QtCalibrationStore store;
    const std::string file = store.where();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    fm::measure::SoundLevelMeter meter(44100.0);
    fm::measure::Calibration calibration(meter, store);
    const std::string ignored = "the calibration in " + file + " is ignored: offsetDb=";
    const std::string notANumber = " is not a number; the levels are dBFS";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"120, 130", "120, 130"},
        {std::string(30, '1') + "\xC3\xA9" + std::string(100, '2'),
         std::string(30, '1') + "\xC3\xA9" + std::string(8, '2') + "..."},
        {std::string(39, '1') + "\xC3\xA9" + "2", std::string(39, '1') + "..."},
    };
    for (const auto& [written, shown] : cases) {
        std::ofstream(file, std::ios::trunc)
            << "[calibration]\noffsetDb=" << written << "\ndate=2026-12-01T09:30:00Z\n";
        const auto said = calibration.setUp(false, std::nullopt, 94.0);
        ASSERT_EQ(said.size(), 1u) << written;
        EXPECT_EQ(said[0], ignored + shown + notANumber);
        EXPECT_FALSE(calibration.calibrated());
    }
    std::filesystem::remove_all(home);
}

}  // namespace
