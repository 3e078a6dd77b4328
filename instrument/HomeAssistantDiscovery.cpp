#include "instrument/HomeAssistantDiscovery.h"

#include <cctype>

#include "report/JsonText.h"

namespace fm::instrument {

std::string topicSafe(const std::string& name) {
    std::string safe;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        safe.push_back(std::isalnum(u) != 0 || c == '-' || c == '_' ? c : '_');
    }
    return safe.empty() ? "fieldmeter" : safe;
}

namespace {

struct Sensor {
    const char* object;   // the object id's end: "laeq_1s"
    const char* name;     // as Home Assistant shows it
    const char* topic;    // the meter's topic it reads: "second", "period", "day"
    const char* key;      // the JSON key
    bool binary = false;  // overload: on while the second had any
    bool text = false;    // the input's state
};

void field(std::string* out, const char* key, const std::string& value, bool first = false) {
    if (!first) {
        out->push_back(',');
    }
    fm::report::appendJsonString(out, key);
    out->push_back(':');
    fm::report::appendJsonString(out, value);
}

}  // namespace

std::vector<DiscoveryMessage> homeAssistantDiscovery(const std::string& meterName,
                                                     const std::string& prefix,
                                                     const std::string& unit) {
    static const Sensor sensors[] = {
        {"laeq_1s", "LAeq,1s", "second", "LAeq_1s"},
        {"lafmax_1s", "LAFmax,1s", "second", "LAFmax_1s"},
        {"laeq_t", "LAeq,T", "period", "LAeq_T"},
        {"la90_t", "LA90,T", "period", "LA90_T"},
        {"lden", "Lden", "day", "Lden"},
        {"overload", "Overload", "second", "overload", true},
        {"input", "Input", "second", "input", false, true},
    };
    const std::string node = topicSafe(meterName);
    std::string device = "{\"identifiers\":[";
    fm::report::appendJsonString(&device, "fieldmeter_" + node);
    device += "],\"name\":";
    fm::report::appendJsonString(&device, meterName);
    device += ",\"manufacturer\":\"fieldmeter\",\"model\":\"fieldmeter-monitor\"}";

    std::vector<DiscoveryMessage> messages;
    for (const Sensor& s : sensors) {
        const std::string component = s.binary ? "binary_sensor" : "sensor";
        std::string p = "{";
        field(&p, "name", s.name, true);
        field(&p, "unique_id", "fieldmeter_" + node + "_" + s.object);
        field(&p, "object_id", "fieldmeter_" + node + "_" + s.object);
        field(&p, "state_topic", prefix + "/" + s.topic);
        field(&p, "availability_topic", prefix + "/status");
        field(&p, "payload_available", "online");
        field(&p, "payload_not_available", "offline");
        if (s.binary) {
            field(&p, "device_class", "problem");
            field(&p, "value_template",
                  std::string("{{ 'ON' if value_json.") + s.key + " > 0 else 'OFF' }}");
        } else if (s.text) {
            field(&p, "value_template", std::string("{{ value_json.") + s.key + " }}");
            field(&p, "icon", "mdi:microphone");
        } else {
            // Home Assistant's sound pressure class takes dB; dBFS is shown as a plain value.
            if (unit == "dB") {
                field(&p, "device_class", "sound_pressure");
            }
            field(&p, "unit_of_measurement", unit);
            field(&p, "state_class", "measurement");
            field(&p, "value_template", std::string("{{ value_json.") + s.key + " }}");
        }
        p += ",\"device\":" + device + "}";
        messages.push_back(
            {"homeassistant/" + component + "/" + node + "/" + s.object + "/config", p});
    }
    return messages;
}

}  // namespace fm::instrument
