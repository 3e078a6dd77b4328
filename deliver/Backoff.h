#pragma once
// Waits between attempts that double up to a cap, with a little jitter so that a fleet of meters
// does not knock on a returning server all in the same second.
#include <algorithm>
#include <chrono>
#include <random>

namespace fm::deliver {

class Backoff {
  public:
    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap)
        : first_(first), cap_(cap), next_(first), random_(std::random_device{}()) {}

    std::chrono::milliseconds next() {
        const auto base = next_;
        next_ = std::min(cap_, next_ * 2);
        std::uniform_real_distribution<double> jitter(0.8, 1.2);
        return std::chrono::milliseconds(static_cast<long>(base.count() * jitter(random_)));
    }
    void reset() { next_ = first_; }

  private:
    std::chrono::milliseconds first_, cap_, next_;
    std::minstd_rand random_;
};

}  // namespace fm::deliver
