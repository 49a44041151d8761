// Clients of the two RTSP peers of the tests: the real GStreamer server of
// tools/rtspsrv (control address in HALVENCAP_RTSPSRV) and the RTSP side of
// a simulated camera (tools/camsim). Tests skip themselves when a peer's
// environment variable is not set.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/CamSim.h"

namespace halvencap_test {

// One server of tools/rtspsrv with the mounts /h264 and /mpeg4; deleted with
// the object.
class RtspServer {
public:
    RtspServer(ControlAddress control, int id, uint16_t port);
    RtspServer(RtspServer&& other) noexcept;
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;
    RtspServer& operator=(RtspServer&&) = delete;
    ~RtspServer();

    // Reads HALVENCAP_RTSPSRV; false when it is not set or malformed.
    static bool Available();
    // query as for /new, e.g. "auth=digest&user=u&password=p&timeout=10".
    static std::optional<RtspServer> Create(const std::string& query = "");

    // "<METHOD> <URL> auth=<Authorization or ->" per request handled past
    // authentication, noted once answered.
    std::vector<std::string> Log() const;
    // Waits until some log line contains needle.
    bool WaitForLog(const std::string& needle, std::chrono::milliseconds timeout) const;
    bool ClearLog() const;
    // Stops listening and drops the clients; Listen opens the same port again.
    bool Kill() const;
    bool Listen() const;

    int id = 0;
    uint16_t port = 0;

private:
    bool Command(const std::string& command) const;
    ControlAddress m_control;
};

// One request the simulated camera's RTSP side received.
struct RtspLogEntry {
    uint64_t timeMs = 0;  // simulator's monotonic clock
    int status = 0;       // 0 while unanswered
    std::string text;     // the request, byte for byte
};

class CamSimRtsp {
public:
    CamSimRtsp(const CamSim& sim, const Camera& camera);
    // Starts the camera's RTSP side (idempotent); its port, 0 on failure.
    uint16_t Start();
    // Switches, e.g. "describe_status=404" or "stall=describe".
    bool Set(const std::string& query) const;
    std::vector<RtspLogEntry> Log() const;
    bool ClearLog() const;
    // "$" frames the client sent on the RTCP channel it was granted (since
    // the log was last cleared), and the last of them in hex; -1 on failure.
    long RtcpFrames() const;
    std::string LastRtcpFrame() const;
    // Waits until the log satisfies done.
    std::vector<RtspLogEntry> WaitForLog(const std::function<bool(const std::vector<RtspLogEntry>&)>& done,
                                         std::chrono::milliseconds timeout) const;

    uint16_t port = 0;

private:
    std::string Target(const std::string& command) const;
    ControlAddress m_control;
    int m_id;
};

// The first word of a request text ("DESCRIBE", ...).
std::string MethodOf(const std::string& request);
std::vector<std::string> Methods(const std::vector<RtspLogEntry>& log);

}  // namespace halvencap_test
