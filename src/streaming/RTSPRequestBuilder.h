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

// The request URL: "rtsp://host:port/" and the path without its leading "/"
// characters.
std::string BuildRequestUrl(const std::string& host, uint16_t port, const std::string& path);
// An rtsp URL from a Content-Base or Content-Location value: a doubled
// scheme is undone, a missing one added, a path alone ("/x") is put under
// the request URL's host; empty when nothing usable is left (another scheme,
// an empty value).
std::string NormalizeRtspUrl(const std::string& value, const std::string& requestUrl);
// The base URL of a session: the content base, else the content location,
// else the request URL (RFC 2326 C.1.1). The URL is text only: requests
// still go to the camera's own host and port.
std::string BuildBaseUrl(const std::string& contentBase, const std::string& contentLocation,
                         const std::string& host, uint16_t port, const std::string& path);
std::string BuildBaseUrl(const std::string& contentBase, const std::string& host, uint16_t port,
                         const std::string& path);
// A control holding "://" is used as it is; "*" and an empty one give the
// base; a relative one is joined to the base with exactly one "/", before
// the base's query unless the base ends with "/".
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
