#pragma once
// What the deliveries carry off the machine, written from the measured quantities' description:
// the JSON of every second (with its sequence number), closed period, whole day and event, and
// a second's fields for line protocol. Each value is named by its key in the description
// ("LAeq_1s", "LZeq_1s_1kHz", "LA90_T", "Lden"); a value that was not measured is null in JSON
// and left out of the line. Qt-free.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "measure/DayEveningNight.h"
#include "measure/PeriodSummary.h"
#include "measure/SecondRecord.h"
#include "report/EventLog.h"

namespace fm::report {

std::string secondMessage(const fm::measure::SecondRecord& second, std::uint64_t seq,
                          const std::string& meterName);
std::string periodMessage(const fm::measure::PeriodValues& period, const std::string& meterName);
std::string dayMessage(const fm::measure::DayValues& day, const std::string& meterName);
// `clipUrl`: where the page serves the clip ("" when nothing serves it or none was kept).
std::string eventMessage(const EventSummary& event, const std::string& meterName,
                         const std::string& clipUrl);

// The second's measured values for line protocol, by key, in dB (calibrated as the second is).
std::vector<std::pair<std::string, double>> secondFields(const fm::measure::SecondRecord& second);

}  // namespace fm::report
