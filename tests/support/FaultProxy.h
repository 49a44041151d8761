// Client of the fault proxy (tools/faultproxy), whose control address comes
// from HALVENCAP_FAULTPROXY. One object is one proxy in front of one RTSP
// server; it is deleted with the object.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "support/CamSim.h"

namespace halvencap_test {

class FaultProxy {
public:
    FaultProxy(ControlAddress control, int id, uint16_t port);
    FaultProxy(FaultProxy&& other) noexcept;
    FaultProxy(const FaultProxy&) = delete;
    FaultProxy& operator=(const FaultProxy&) = delete;
    FaultProxy& operator=(FaultProxy&&) = delete;
    ~FaultProxy();

    static bool Available();
    // A proxy for the RTSP server on 127.0.0.1:serverPort; query adds
    // switches, e.g. "seed=3&drop=0.01".
    static std::optional<FaultProxy> Create(uint16_t serverPort, const std::string& query = "");

    // Switches such as "drop=0.05", "blackhole=1" or "clear".
    bool Set(const std::string& query) const;
    // Closes every relayed RTSP connection and its datagram relays.
    bool DropConnections() const;
    std::map<std::string, long> Counters() const;

    int id = 0;
    uint16_t port = 0;

private:
    ControlAddress m_control;
};

}  // namespace halvencap_test
