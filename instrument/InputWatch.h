#pragma once
// Keeps an engine measuring without a screen: notices an input that ended (a file played out) or
// was lost (the sound server went away, or a stream that stopped delivering), says so once,
// and tries a lost microphone again every few seconds until it is back. Polled on the main
// thread a few times a second. Qt-free.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/AudioEngine.h"

namespace fm::instrument {

class InputWatch {
  public:
    using Clock = std::chrono::steady_clock;
    using Say = std::function<void(const std::string&)>;

    // Blocks come every 23 ms: a running stream silent this long has stopped delivering.
    static constexpr std::chrono::seconds kSilentStreamLimit{3};
    static constexpr std::chrono::seconds kRetryEvery{5};

    InputWatch(fm::audio::AudioEngine& engine, Say say) : engine_(engine), say_(std::move(say)) {}

    void poll(Clock::time_point now);
    // Whether the input delivers now (false after an end or a loss, until it is back).
    bool measuring() const { return measuring_; }

  private:
    void stopped(Clock::time_point now);

    fm::audio::AudioEngine& engine_;
    Say say_;
    bool measuring_ = true;
    bool retrying_ = false;
    std::uint64_t seenStart_ = 0;
    std::uint64_t deliveries_ = 0;
    Clock::time_point deliveriesChangedAt_{};
    Clock::time_point nextRetry_{};
};

}  // namespace fm::instrument
