#include "measure/LimitWatch.h"

#include <algorithm>

#include "measure/Decibels.h"

namespace fm::measure {

namespace {

using std::chrono::seconds;

// The mean square that reads as the second's level with its own calibration: seconds measured
// under different calibrations add up as the sound they stood for.
double calibratedMeanSquare(double meanSquare, double offsetDb) {
    return dbToMeanSquare(meanSquareToDb(meanSquare, offsetDb));
}

std::optional<double> levelOf(double sum, std::uint64_t count) {
    if (count == 0) {
        return std::nullopt;
    }
    return meanSquareToDb(sum / static_cast<double>(count));
}

}  // namespace

LimitWatch::LimitWatch(Options options) : options_(std::move(options)) {
    for (const LimitSpec& limit : options_.limits) {
        Follow f;
        if (limit.rolling()) {
            const auto n = static_cast<std::size_t>(limit.rollingSeconds);
            f.rolling.meanSquare.assign(n, 0.0);
            f.rolling.measured.assign(n, false);
        } else if (limit.key != "LAF") {
            for (const Quantity& q : quantities()) {
                if (q.key == limit.key) {
                    f.quantity = &q;
                }
            }
        }
        follow_.push_back(std::move(f));
        LimitState state;
        state.name = limit.name;
        state.spec = limit.text;
        state.levelDb = limit.levelDb;
        states_.push_back(state);
    }
}

std::optional<double> LimitWatch::valueOf(const LimitSpec& limit, Follow& f, const SecondRecord& s,
                                          bool inWindow, std::optional<double>* coverage) {
    const bool levels = hasLevels(s.input);
    if (limit.rolling()) {
        // Seconds without input, or outside the limit's times, take their place in the window
        // but do not count.
        Rolling& r = f.rolling;
        const double ms = limit.rollingWeighting == 'A'   ? s.meanSquareA
                          : limit.rollingWeighting == 'C' ? s.meanSquareC
                                                          : s.meanSquareZ;
        r.meanSquare[r.next] =
            levels && inWindow ? calibratedMeanSquare(ms, s.calibrationOffsetDb) : 0.0;
        r.measured[r.next] = levels && inWindow;
        r.next = (r.next + 1) % r.meanSquare.size();
        r.filled = std::min(r.filled + 1, r.meanSquare.size());
        // Summed afresh each second: a running sum would carry the rounding of every second
        // that left it, and a day's window is still only 86,400 additions.
        double sum = 0.0;
        std::uint64_t count = 0;
        for (std::size_t i = 0; i < r.meanSquare.size(); ++i) {
            if (r.measured[i]) {
                sum += r.meanSquare[i];
                ++count;
            }
        }
        *coverage = static_cast<double>(count) / static_cast<double>(r.meanSquare.size());
        return levelOf(sum, count);
    }
    if (!levels) {
        return std::nullopt;
    }
    if (f.quantity == nullptr) {  // LAF: its largest value in the second
        return meanSquareToDb(s.maxMeanSquareAF, s.calibrationOffsetDb);
    }
    MeasurementView view;
    view.second = &s;
    return fm::measure::valueOf(*f.quantity, view);
}

void LimitWatch::add(const SecondRecord& s, std::vector<LimitAlert>* alerts) {
    const auto middle = s.closedAt - std::chrono::milliseconds(500);
    const bool levels = hasLevels(s.input);
    const double secondMs =
        levels ? calibratedMeanSquare(s.meanSquareA, s.calibrationOffsetDb) : 0.0;
    for (std::size_t i = 0; i < follow_.size(); ++i) {
        const LimitSpec& limit = options_.limits[i];
        Follow& f = follow_[i];
        LimitState& state = states_[i];
        state.inWindow = !limit.window || limit.window->contains(middle);
        state.coverage.reset();
        state.value = valueOf(limit, f, s, state.inWindow, &state.coverage);
        state.calibrated = s.calibrated;
        state.held = state.inWindow && state.value && *state.value > limit.levelDb;

        auto addTo = [&](Energy& e) {
            if (levels) {
                e.sum += secondMs;
                ++e.count;
            }
        };
        if (state.held) {
            ++state.secondsOver;
            ++f.run;
            f.runMax = std::max(f.runMax.value_or(*state.value), *state.value);
            addTo(f.runEnergy);
        } else {
            f.run = 0;
            f.runMax.reset();
            f.runEnergy = {};
        }

        auto alert = [&](LimitAlert::Kind kind) {
            LimitAlert a;
            a.kind = kind;
            a.name = limit.name;
            a.spec = limit.text;
            a.levelDb = limit.levelDb;
            a.episode = state.episodes;
            a.calibrated = s.calibrated;
            a.start = state.since;
            a.time = s.closedAt;
            return a;
        };

        if (!state.raised) {
            if (!state.held || f.run < limit.holdSeconds) {
                continue;
            }
            state.raised = true;
            state.since = s.closedAt - seconds(f.run);
            ++state.episodes;
            f.max = f.runMax;
            f.energy = f.runEnergy;
            f.pending = {};
            f.quiet = 0;
            f.lastHeldEnd = s.closedAt;
            f.lastCoverage = state.coverage;
            // A clock set back counts as time enough: an alert twice rather than none for hours.
            const bool due = options_.everySeconds <= 0 || !f.lastAlert ||
                             s.closedAt < *f.lastAlert ||
                             s.closedAt - *f.lastAlert >= seconds(options_.everySeconds);
            f.alerted = due;
            if (!due) {
                ++f.notAlerted;
                continue;
            }
            LimitAlert a = alert(LimitAlert::Kind::Raised);
            a.value = *state.value;
            a.coverage = state.coverage;
            a.episodesNotAlerted = f.notAlerted;
            f.notAlerted = 0;
            f.lastAlert = s.closedAt;
            alerts->push_back(std::move(a));
            continue;
        }

        if (state.held) {
            f.quiet = 0;
            f.max = std::max(f.max.value_or(*state.value), *state.value);
            f.energy.sum += f.pending.sum;
            f.energy.count += f.pending.count;
            f.pending = {};
            addTo(f.energy);
            f.lastHeldEnd = s.closedAt;
            f.lastCoverage = state.coverage;
            continue;
        }
        ++f.quiet;
        addTo(f.pending);
        if (f.quiet < options_.clearSeconds) {
            continue;
        }
        state.raised = false;
        if (f.alerted) {
            LimitAlert a = alert(LimitAlert::Kind::Cleared);
            a.value = f.max.value_or(kLevelFloorDb);
            a.end = f.lastHeldEnd;
            a.LAeq = levelOf(f.energy.sum, f.energy.count);
            a.coverage = f.lastCoverage;
            alerts->push_back(std::move(a));
        }
    }
}

}  // namespace fm::measure
