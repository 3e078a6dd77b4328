#pragma once
// Who hears each row as the writers write it, on the main thread: the deliveries that carry
// them off the machine. Qt-free.
#include "measure/DayEveningNight.h"
#include "measure/PeriodSummary.h"
#include "measure/SecondRecord.h"
#include "report/EventLog.h"

namespace fm::report {

class ReportListener {
  public:
    virtual ~ReportListener() = default;
    virtual void second(const fm::measure::SecondRecord& second) = 0;
    virtual void period(const fm::measure::PeriodValues& period) = 0;
    virtual void day(const fm::measure::DayValues& day) = 0;
    virtual void event(const EventSummary& event) = 0;
};

}  // namespace fm::report
