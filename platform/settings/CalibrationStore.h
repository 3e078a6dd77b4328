#pragma once
// Where the calibration is kept between runs: the offset (the dB that 0 dBFS reads) and the
// date it was set, as the settings file holds them (text, unchecked: the reader judges them).
// Qt-free interface; QtCalibrationStore keeps them in the user's settings file.
#include <optional>
#include <string>

namespace fm::platform {

struct StoredCalibration {
    std::string offsetDb;  // as written in the file, e.g. "114.2"
    std::string date;      // ISO 8601 in UTC, e.g. "2026-12-01T09:30:00Z"
};

class CalibrationStore {
  public:
    virtual ~CalibrationStore() = default;
    // What the file holds; nullopt when no calibration is kept.
    virtual std::optional<StoredCalibration> load() = 0;
    // Keeps a calibration; false with *error when it could not be written.
    virtual bool save(const StoredCalibration& calibration, std::string* error) = 0;
    // Forgets the kept calibration; false with *error when the file could not be written.
    virtual bool forget(std::string* error) = 0;
    // The file, for messages.
    virtual std::string where() const = 0;
};

}  // namespace fm::platform
