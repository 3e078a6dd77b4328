#pragma once
// The calibration in the user's settings file (~/.config/fieldmeter/fieldmeter.conf, or under
// $XDG_CONFIG_HOME), keys calibration/offsetDb and calibration/date.
#include "platform/settings/CalibrationStore.h"

namespace fm::platform {

class QtCalibrationStore : public CalibrationStore {
  public:
    std::optional<StoredCalibration> load() override;
    bool save(const StoredCalibration& calibration, std::string* error) override;
    bool forget(std::string* error) override;
    std::string where() const override;
};

}  // namespace fm::platform
