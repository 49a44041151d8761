// The texts of RTSP requests: URLs, the Transport header and the request
// formats of each method. Pure functions of the session's state.
#pragma once

#include <cstdint>
#include <string>

#include "streaming/SDPResponseParser.h"

namespace zentavo {

enum RtspTransportMode {
    RTSP_TRANSPORT_UDP = 0,
    RTSP_TRANSPORT_TCP = 1,
    RTSP_TRANSPORT_INTERLEAVED = 2,
};

// "DESCRIBE", "SETUP", ... for an RtspMethod; empty for anything else.
std::string RtspMethodName(int method);

// The content base when it holds "rtsp://", else "rtsp://host:port/" and the
// path without its leading "/" characters.
std::string BuildBaseUrl(const std::string& contentBase, const std::string& host, uint16_t port,
                         const std::string& path);
// A control holding "://" is used as it is; a relative one is joined to the
// base with exactly one "/"; an empty one gives the base.
std::string BuildControlUrl(const std::string& baseUrl, const std::string& control);

// "Transport: ..." CR LF for SETUP of the given media record.
std::string BuildTransportHeader(int mode, bool multicast, const SDP_MEDIA& media, uint16_t clientRtpPort,
                                 uint16_t clientRtcpPort);

struct RTSP_REQUEST_PARTS {
    std::string baseUrl;
    std::string controlUrl;     // SETUP only
    uint32_t cseq = 0;
    std::string authorization;  // whole line or empty
    std::string session;        // identifier or empty
    std::string range;          // empty gives "npt=0.000-"
    std::string transport;      // whole line, SETUP only
};

// The request text; empty for an unknown method.
std::string FormatRequest(int method, const RTSP_REQUEST_PARTS& parts);

}  // namespace zentavo
