#include "measure/Quantities.h"

#include <algorithm>

#include "measure/DayEveningNight.h"
#include "measure/Decibels.h"
#include "measure/EventValues.h"
#include "measure/PeriodSummary.h"
#include "measure/RunStatistics.h"
#include "measure/ThirdOctaveBands.h"

namespace fm::measure {

namespace {

constexpr int kPercents[] = {10, 50, 90, 95};

// "1 kHz" of "1kHz": the symbol's spelling.
std::string spacedLabel(int band) {
    std::string label = bandLabel(band);
    const auto unit = label.find_first_of("kH");
    return label.substr(0, unit) + " " + label.substr(unit);
}

std::vector<Quantity> describe() {
    using I = Interval;
    using S = Statistic;
    using T = TimeWeighting;
    std::vector<Quantity> q;
    auto add = [&](std::string key, std::string symbol, S s, char w, T t, I i, int band = -1,
                   int percent = 0) {
        q.push_back({std::move(key), std::move(symbol), s, w, t, i, band, percent});
    };
    // Now.
    add("LAF", "LAF", S::TimeWeighted, 'A', T::Fast, I::Now);
    add("LAS", "LAS", S::TimeWeighted, 'A', T::Slow, I::Now);
    add("LCF", "LCF", S::TimeWeighted, 'C', T::Fast, I::Now);
    add("LZF", "LZF", S::TimeWeighted, 'Z', T::Fast, I::Now);
    for (int b = 0; b < kBandCount; ++b) {
        add(std::string("LZF_") + bandLabel(b), "LZF " + spacedLabel(b), S::TimeWeighted, 'Z',
            T::Fast, I::Now, b);
    }
    // The last whole second: the log's first four columns keep their order.
    add("LAeq_1s", "LAeq,1s", S::Equivalent, 'A', T::None, I::Second);
    add("LAFmax_1s", "LAFmax,1s", S::Maximum, 'A', T::Fast, I::Second);
    add("LCpeak_1s", "LCpeak,1s", S::Peak, 'C', T::None, I::Second);
    add("LZeq_1s", "LZeq,1s", S::Equivalent, 'Z', T::None, I::Second);
    add("LCeq_1s", "LCeq,1s", S::Equivalent, 'C', T::None, I::Second);
    add("LAFmin_1s", "LAFmin,1s", S::Minimum, 'A', T::Fast, I::Second);
    for (int b = 0; b < kBandCount; ++b) {
        add(std::string("LZeq_1s_") + bandLabel(b), "LZeq,1s " + spacedLabel(b), S::Equivalent, 'Z',
            T::None, I::Second, b);
    }
    // Since the start.
    add("LAeq", "LAeq", S::Equivalent, 'A', T::None, I::Run);
    add("LCeq", "LCeq", S::Equivalent, 'C', T::None, I::Run);
    add("LZeq", "LZeq", S::Equivalent, 'Z', T::None, I::Run);
    add("LAFmax", "LAFmax", S::Maximum, 'A', T::Fast, I::Run);
    add("LAFmin", "LAFmin", S::Minimum, 'A', T::Fast, I::Run);
    add("LCpeak", "LCpeak", S::Peak, 'C', T::None, I::Run);
    for (int p : kPercents) {
        add("LA" + std::to_string(p), "LA" + std::to_string(p), S::Exceeded, 'A', T::Fast, I::Run,
            -1, p);
    }
    for (int b = 0; b < kBandCount; ++b) {
        add(std::string("LZeq_") + bandLabel(b), "LZeq " + spacedLabel(b), S::Equivalent, 'Z',
            T::None, I::Run, b);
    }
    // The last closed period.
    add("LAeq_T", "LAeq,T", S::Equivalent, 'A', T::None, I::Period);
    add("LAFmax_T", "LAFmax,T", S::Maximum, 'A', T::Fast, I::Period);
    add("LAFmin_T", "LAFmin,T", S::Minimum, 'A', T::Fast, I::Period);
    for (int p : kPercents) {
        add("LA" + std::to_string(p) + "_T", "LA" + std::to_string(p) + ",T", S::Exceeded, 'A',
            T::Fast, I::Period, -1, p);
    }
    add("LCeq_T", "LCeq,T", S::Equivalent, 'C', T::None, I::Period);
    add("LCpeak_T", "LCpeak,T", S::Peak, 'C', T::None, I::Period);
    for (int b = 0; b < kBandCount; ++b) {
        add(std::string("LZeq_T_") + bandLabel(b), "LZeq,T " + spacedLabel(b), S::Equivalent, 'Z',
            T::None, I::Period, b);
    }
    // The last whole local day.
    add("Lday", "Lday", S::DayPart, 'A', T::None, I::Day, -1, 0);
    add("Levening", "Levening", S::DayPart, 'A', T::None, I::Day, -1, 1);
    add("Lnight", "Lnight", S::DayPart, 'A', T::None, I::Day, -1, 2);
    add("Lden", "Lden", S::DayPart, 'A', T::None, I::Day, -1, 3);
    // One event: events.csv names its columns after the key's part before "_event".
    add("LAFmax_event", "LAFmax,event", S::Maximum, 'A', T::Fast, I::Event);
    add("LAeq_event", "LAeq,event", S::Equivalent, 'A', T::None, I::Event);
    add("LCpeak_event", "LCpeak,event", S::Peak, 'C', T::None, I::Event);
    return q;
}

std::optional<double> nowValue(const Quantity& q, const MeasurementView& m) {
    const SoundLevelSnapshot& s = *m.now;
    if (q.band >= 0) {
        if (m.bands == nullptr) {
            return std::nullopt;
        }
        return meanSquareToDb(m.bands->fastMeanSquare[static_cast<std::size_t>(q.band)],
                              s.calibrationOffsetDb);
    }
    if (q.weighting == 'A') {
        return q.timeWeighting == TimeWeighting::Slow ? s.LAS : s.LAF;
    }
    return q.weighting == 'C' ? s.LCF : s.LZF;
}

std::optional<double> secondValue(const Quantity& q, const SecondRecord& r) {
    if (!hasLevels(r.input)) {
        return std::nullopt;
    }
    const double o = r.calibrationOffsetDb;
    if (q.band >= 0) {
        return meanSquareToDb(r.bandMeanSquare[static_cast<std::size_t>(q.band)], o);
    }
    switch (q.statistic) {
        case Statistic::Equivalent:
            return meanSquareToDb(q.weighting == 'A'   ? r.meanSquareA
                                  : q.weighting == 'C' ? r.meanSquareC
                                                       : r.meanSquareZ,
                                  o);
        case Statistic::Maximum:
            return meanSquareToDb(r.maxMeanSquareAF, o);
        case Statistic::Minimum:
            return meanSquareToDb(r.minMeanSquareAF, o);
        case Statistic::Peak:
            return peakToDb(r.peakC, o);
        default:
            return std::nullopt;
    }
}

std::optional<double> runValue(const Quantity& q, const MeasurementView& m) {
    const SoundLevelSnapshot& s = *m.now;
    if (q.band >= 0) {
        if (m.bands == nullptr || m.bands->frames == 0) {
            return std::nullopt;
        }
        return meanSquareToDb(m.bands->energy[static_cast<std::size_t>(q.band)] /
                                  static_cast<double>(m.bands->frames),
                              s.calibrationOffsetDb);
    }
    if (s.framesCaptured == 0) {
        return std::nullopt;
    }
    switch (q.statistic) {
        case Statistic::Equivalent:
            if (q.weighting == 'Z') {
                return meanSquareToDb(s.sumSquaresZ / static_cast<double>(s.framesCaptured),
                                      s.calibrationOffsetDb);
            }
            return q.weighting == 'A' ? s.LAeq : s.LCeq;
        case Statistic::Maximum:
            return s.LAFmax;
        case Statistic::Peak:
            return s.LCpeak;
        case Statistic::Minimum:
            return m.run != nullptr ? m.run->LAFmin() : std::nullopt;
        case Statistic::Exceeded:
            return m.run != nullptr ? m.run->exceeded(q.percent) : std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<double> periodValue(const Quantity& q, const PeriodValues& p) {
    if (q.band >= 0) {
        if (!p.bandLZeq) {
            return std::nullopt;
        }
        return (*p.bandLZeq)[static_cast<std::size_t>(q.band)];
    }
    switch (q.statistic) {
        case Statistic::Equivalent:
            return q.weighting == 'A' ? p.LAeq : p.LCeq;
        case Statistic::Maximum:
            return p.LAFmax;
        case Statistic::Minimum:
            return p.LAFmin;
        case Statistic::Peak:
            return p.LCpeak;
        case Statistic::Exceeded:
            switch (q.percent) {
                case 10:
                    return p.LA10;
                case 50:
                    return p.LA50;
                case 90:
                    return p.LA90;
                case 95:
                    return p.LA95;
                default:
                    return std::nullopt;
            }
        default:
            return std::nullopt;
    }
}

std::optional<double> dayValue(const Quantity& q, const DayValues& d) {
    switch (q.percent) {
        case 0:
            return d.Lday;
        case 1:
            return d.Levening;
        case 2:
            return d.Lnight;
        default:
            return d.Lden;
    }
}

std::optional<double> eventValue(const Quantity& q, const EventValues& e) {
    const double o = e.calibrationOffsetDb;
    switch (q.statistic) {
        case Statistic::Equivalent:
            if (e.frames == 0) {
                return std::nullopt;
            }
            return meanSquareToDb(e.sumSquaresA / static_cast<double>(e.frames), o);
        case Statistic::Maximum:
            return e.frames > 0 ? std::optional(meanSquareToDb(e.maxMeanSquareAF, o))
                                : std::nullopt;
        case Statistic::Peak:
            return e.frames > 0 ? std::optional(peakToDb(e.peakC, o)) : std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace

const std::vector<Quantity>& quantities() {
    static const std::vector<Quantity> list = describe();
    return list;
}

double bandNominalHz(int band) {
    return ThirdOctaveBands::nominalMidHz(std::clamp(band, 0, kBandCount - 1));
}

const char* bandLabel(int band) {
    return ThirdOctaveBands::label(std::clamp(band, 0, kBandCount - 1));
}

const char* intervalName(Interval interval) {
    switch (interval) {
        case Interval::Now:
            return "now";
        case Interval::Second:
            return "1s";
        case Interval::Run:
            return "run";
        case Interval::Period:
            return "T";
        case Interval::Day:
            return "day";
        case Interval::Event:
            return "event";
    }
    return "now";
}

std::optional<double> valueOf(const Quantity& q, const MeasurementView& m) {
    switch (q.interval) {
        case Interval::Now:
            return m.now != nullptr && m.measuring ? nowValue(q, m) : std::nullopt;
        case Interval::Second:
            return m.second != nullptr ? secondValue(q, *m.second) : std::nullopt;
        case Interval::Run:
            return m.now != nullptr ? runValue(q, m) : std::nullopt;
        case Interval::Period:
            return m.period != nullptr ? periodValue(q, *m.period) : std::nullopt;
        case Interval::Day:
            return m.day != nullptr ? dayValue(q, *m.day) : std::nullopt;
        case Interval::Event:
            return m.event != nullptr ? eventValue(q, *m.event) : std::nullopt;
    }
    return std::nullopt;
}

bool calibratedOf(const Quantity& q, const MeasurementView& m) {
    switch (q.interval) {
        case Interval::Now:
        case Interval::Run:
            return m.now != nullptr && m.now->calibrated;
        case Interval::Second:
            return m.second != nullptr && m.second->calibrated;
        case Interval::Period:
            return m.period != nullptr && m.period->calibrated;
        case Interval::Day:
            return m.day != nullptr && m.day->calibrated;
        case Interval::Event:
            return m.event != nullptr && m.event->calibrated;
    }
    return false;
}

}  // namespace fm::measure
