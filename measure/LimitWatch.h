#pragma once
// The limits followed second by second: whether each held in a second, its rolling level, and
// its episodes. An episode starts (is raised) once the limit has held for its hold, and ends
// (is cleared) when it has not held for the clear time; each limit raises an alert at most once
// per `every`, and the episodes in between are counted in its next alert. Time is the seconds'
// own (when each closed), so a file measured faster than real time gets the same alerts. Main
// thread. Qt-free.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measure/Limit.h"
#include "measure/Quantities.h"
#include "measure/SecondRecord.h"

namespace fm::measure {

struct LimitAlert {
    using Time = std::chrono::system_clock::time_point;
    enum class Kind { Raised, Cleared };

    Kind kind = Kind::Raised;
    std::string name;
    std::string spec;
    double levelDb = 0.0;
    std::uint64_t episode = 0;  // the limit's episodes counted from 1
    // Raised: the value in the second that raised it; cleared: the episode's maximum.
    double value = 0.0;
    bool calibrated = false;  // dB, else dBFS
    Time start{};             // when the first second that held began
    Time time{};              // when the second that raised or cleared it closed
    // Cleared: when the last second that held ended, the energy mean of LAeq,1s from start to
    // end.
    Time end{};
    std::optional<double> LAeq;
    // A rolling level: the share of its window that was measured, at the second that raised or
    // last held.
    std::optional<double> coverage;
    // Raised: episodes since the limit's previous alert that raised none (the rate limit).
    std::uint64_t episodesNotAlerted = 0;
    // The event clips captured during the episode (filled by the reports, not here).
    std::vector<std::string> clips;

    double durationSeconds() const { return std::chrono::duration<double>(end - start).count(); }
};

// A limit's state after the last second, for the page, the metrics and the screen.
struct LimitState {
    std::string name;
    std::string spec;
    double levelDb = 0.0;
    bool calibrated = false;
    std::optional<double> value;     // in the last second (nullopt: not measured there)
    std::optional<double> coverage;  // rolling: the measured share of the window
    bool inWindow = true;            // within its local times in the last second
    bool held = false;               // it held in the last second
    bool raised = false;             // an episode is under way
    std::chrono::system_clock::time_point since{};  // the episode's start while raised
    std::uint64_t episodes = 0;
    std::uint64_t secondsOver = 0;  // seconds in which it held
};

class LimitWatch {
  public:
    struct Options {
        std::vector<LimitSpec> limits;
        int clearSeconds = 60;
        int everySeconds = 600;  // 0: every episode raises an alert
    };

    explicit LimitWatch(Options options);

    // One second of the stream, in order; appends the alerts it makes to *alerts.
    void add(const SecondRecord& second, std::vector<LimitAlert>* alerts);

    const std::vector<LimitState>& states() const { return states_; }
    const std::vector<LimitSpec>& limits() const { return options_.limits; }
    bool empty() const { return options_.limits.empty(); }

  private:
    // Calibrated mean squares added up.
    struct Energy {
        double sum = 0.0;
        std::uint64_t count = 0;
    };
    struct Rolling {
        std::vector<double> meanSquare;  // calibrated, one per second of the window
        std::vector<bool> measured;
        std::size_t next = 0;
        std::size_t filled = 0;
    };
    struct Follow {
        Rolling rolling;
        const Quantity* quantity = nullptr;  // null for LAF and rolling levels
        int run = 0;                         // consecutive seconds it held
        std::optional<double> runMax;
        Energy runEnergy;  // LAeq,1s of the run's seconds
        int quiet = 0;     // seconds since it last held, while raised
        std::optional<double> max;
        Energy energy;   // the episode's seconds up to the last that held
        Energy pending;  // its seconds since then
        std::optional<double> lastCoverage;
        bool alerted = false;  // this episode raised an alert
        std::optional<std::chrono::system_clock::time_point> lastAlert;
        std::uint64_t notAlerted = 0;
        std::chrono::system_clock::time_point lastHeldEnd{};
    };

    std::optional<double> valueOf(const LimitSpec& limit, Follow& follow, const SecondRecord& s,
                                  bool inWindow, std::optional<double>* coverage);

    Options options_;
    std::vector<Follow> follow_;
    std::vector<LimitState> states_;
};

}  // namespace fm::measure
