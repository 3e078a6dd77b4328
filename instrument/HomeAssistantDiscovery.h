#pragma once
// Home Assistant's MQTT discovery: retained config messages that make the meter appear by itself
// as a sound pressure device with its main values (LAeq,1s, LAFmax,1s, LAeq,T, LA90,T, Lden,
// overload and the input), read from the meter's own topics. Qt-free.
#include <string>
#include <utility>
#include <vector>

namespace fm::instrument {

struct DiscoveryMessage {
    std::string topic;  // homeassistant/<component>/<node>/<object>/config
    std::string payload;
};

// `prefix`: the meter's topics (fieldmeter/NAME); `unit`: "dB" or "dBFS".
std::vector<DiscoveryMessage> homeAssistantDiscovery(const std::string& meterName,
                                                     const std::string& prefix,
                                                     const std::string& unit);

// A name made safe for a topic level and an object id: letters, digits, _ and -.
std::string topicSafe(const std::string& name);

}  // namespace fm::instrument
