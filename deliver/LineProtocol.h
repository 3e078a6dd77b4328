#pragma once
// One point of the line protocol of InfluxDB and VictoriaMetrics, escaped as the protocol wants:
// commas and spaces in the measurement; commas, equals signs and spaces in tag keys, tag values
// and field keys. Tags are sorted by key and empty ones left out; fields that are not finite
// (a level of silence, say) are left out, as the protocol has no word for them. Empty when no
// field is left.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fm::deliver {

std::string lineProtocolPoint(std::string_view measurement,
                              const std::vector<std::pair<std::string, std::string>>& tags,
                              const std::vector<std::pair<std::string, double>>& fields,
                              std::int64_t unixNanoseconds);

}  // namespace fm::deliver
