// Client of the camera simulator (tools/camsim) for end-to-end tests.
//
// The simulator runs as a separate process; its control address comes from
// the environment variable HALVENCAP_CAMSIM ("127.0.0.1:<port>"). Tests that
// need a camera skip themselves when CamSim::Available() is false. Queries
// passed to the helpers are sent as written, so values with spaces or other
// reserved characters must be percent-encoded by the caller.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halvencap_test {

struct ControlAddress {
    std::string host;
    uint16_t port = 0;
};

struct HttpReply {
    int status = 0;  // 0 when no HTTP answer was received
    std::string body;
};

// One blocking HTTP/1.0 GET to host:port; the connection is closed afterwards.
// Gives up after a generous time-out so that a stuck peer fails the test
// instead of hanging the run.
HttpReply HttpGet(const std::string& host, uint16_t port, const std::string& target);

// A loopback TCP port with nothing listening on it, for "unreachable camera"
// tests.
uint16_t ClosedPort();

// A simulated camera; deleting the object deletes the camera in the simulator.
class Camera {
public:
    Camera(ControlAddress control, int id, uint16_t port);
    Camera(Camera&& other) noexcept;
    Camera& operator=(Camera&& other) noexcept;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;
    ~Camera();

    // Requests the camera received, oldest first:
    // "<METHOD> <target> auth=<Authorization header or ->".
    std::vector<std::string> Log() const;
    bool ClearLog() const;
    // Fault and behaviour switches, e.g. "hang=1" or "refuse=Stream.Quality.SetValue:busy".
    bool Set(const std::string& query) const;
    // Parameter values, unchecked; "Name[i]=v" addresses stream or I/O line i.
    bool Param(const std::string& query) const;
    // Enumeration entries ("Name=a,b,c") and ranges ("Name=min,max,inc").
    bool Entries(const std::string& query) const;
    bool Range(const std::string& query) const;
    // Makes the camera stop knowing the named parameters ("A&B").
    bool Forget(const std::string& query) const;
    // Every stored value; per-stream and per-line values appear as "Name[i]".
    std::map<std::string, std::string> Params() const;

    int id = 0;
    uint16_t port = 0;

private:
    bool Command(const std::string& command, const std::string& query) const;

    ControlAddress m_control;
};

class CamSim {
public:
    // Reads HALVENCAP_CAMSIM.
    CamSim();

    static bool Available();
    bool Valid() const { return m_control.port != 0; }
    const ControlAddress& Control() const { return m_control; }

    // query as for the simulator's /new, e.g. "user=u&password=p&auth=basic&fps=25".
    std::optional<Camera> NewCamera(const std::string& query = "") const;
    HttpReply Get(const std::string& target) const;

private:
    ControlAddress m_control;
};

}  // namespace halvencap_test
