#pragma once
// Motion replayed from a CSV file given with --motion FILE: one line per sample,
// "seconds,z_in_g,yaw_in_radians", seconds counted from the program's start and never
// decreasing. Blank lines and lines starting with '#' are skipped. Between lines the last
// line holds; after the last line its values stay.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/motion/MotionSource.h"

namespace fm::platform {

struct ReplayRow {
    double seconds = 0.0;
    double z = 0.0;
    double yaw = 0.0;
};

// Parses the replay text. On a malformed line returns nothing and puts
// "line N: <what is wrong>" into *error.
std::optional<std::vector<ReplayRow>> parseMotionReplay(const std::string& text,
                                                        std::string* error);

class ReplayMotionSource : public MotionSource {
  public:
    // `clock` gives the seconds since the replay started.
    ReplayMotionSource(std::vector<ReplayRow> rows, std::string name,
                       std::function<double()> clock);

    // Reads and parses the file; on failure *error says "FILE: reason". Only a regular file of
    // at most 64 MiB is read (a FIFO or a device would never end).
    static std::optional<ReplayMotionSource> load(const std::string& path,
                                                  std::function<double()> clock,
                                                  std::string* error);

    std::optional<Acceleration> acceleration() override;
    std::optional<RotationRate> rotationRate() override;
    std::optional<double> yaw() override;
    std::string description() const override;

    // The row in force at `seconds`, or nothing before the first row.
    std::optional<ReplayRow> rowAt(double seconds) const;

  private:
    std::vector<ReplayRow> rows_;
    std::string name_;
    std::function<double()> clock_;
};

}  // namespace fm::platform
