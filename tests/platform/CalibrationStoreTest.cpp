// A kept offset as a person may leave it in the settings file, shown as the file holds it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "measure/Calibration.h"
#include "measure/SoundLevels.h"
#include "platform/settings/QtCalibrationStore.h"

TEST(CalibrationStore, AValueThatIsNotANumberIsShownAsWrittenAndCutToALine) {
    const auto home =
        std::filesystem::temp_directory_path() / ("fm-conf" + std::to_string(::getpid()));
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);  // never the user's
    fm::platform::QtCalibrationStore store;
    std::filesystem::create_directories(std::filesystem::path(store.where()).parent_path());
    fm::measure::SoundLevelMeter meter;
    fm::measure::Calibration calibration(meter, store);
    const std::string e = "\xC3\xA9";  // two bytes: never cut in two
    for (const auto& [written, shown] :
         {std::pair<std::string, std::string>{"120, 130", "120, 130"},
          {std::string(39, '1') + e + "2", std::string(39, '1') + "..."},
          {e + std::string(50, '2'), e + std::string(38, '2') + "..."}}) {
        std::ofstream(store.where()) << "[calibration]\noffsetDb=" << written << "\n";
        EXPECT_EQ(calibration.setUp(false, std::nullopt, 94.0),
                  std::vector<std::string>{"the calibration in " + store.where() +
                                           " is ignored: offsetDb=" + shown +
                                           " is not a number; the levels are dBFS"});
    }
    std::filesystem::remove_all(home);
}
