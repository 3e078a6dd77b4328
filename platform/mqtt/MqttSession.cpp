#include "platform/mqtt/MqttSession.h"

#include "platform/transports/TransportsModule.h"

namespace fm::platform {

std::unique_ptr<MqttSession> MqttSession::create(const MqttConnectOptions& options, Events events,
                                                 std::string* error) {
    std::string why;
    const auto make =
        reinterpret_cast<decltype(&fmMakeMqttSession)>(transportsFunction(kMakeMqttSession, &why));
    if (make == nullptr) {
        if (error) *error = "no MQTT client: " + why;
        return nullptr;
    }
    return std::unique_ptr<MqttSession>(make(options, &events, error));
}

}  // namespace fm::platform
