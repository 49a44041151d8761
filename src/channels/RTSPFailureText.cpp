#include "channels/RTSPFailureText.h"

#include "runtime/TextUtils.h"
#include "streaming/RTSPRequestBuilder.h"
#include "streaming/RTSPResponseParser.h"

namespace zentavo {

namespace {

std::string Answer(const RTSP_SESSION_RESULT& r) {
    std::string text = FormatString("%s answered %u", RtspMethodName(r.failedMethod).c_str(), unsigned(r.statusCode));
    if (!r.reasonPhrase.empty()) text += " " + r.reasonPhrase;
    return text;
}

// A realm is the server's text: printable and short in a log line.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F && c != '"' &&
            out.size() < 80)
            out += c;
    return out;
}

}  // namespace

std::string DescribeRtspFailure(const RTSP_SESSION_RESULT& r, const std::string& host, uint16_t port) {
    if (r.connectFailed) {
        if (r.connectRefused)
            return FormatString("connection refused by %s:%u: check the camera's RTSP port and that its RTSP server runs",
                                host.c_str(), unsigned(port));
        return FormatString("no answer from %s:%u: check the address and that a firewall lets the RTSP port through",
                            host.c_str(), unsigned(port));
    }
    if (r.byeReceived) return "session ended by the camera (RTCP BYE)";
    if (r.sessionExpired) return "session ended by the camera (session expired)";
    if (r.credentialsRefused) {
        const char* scheme = r.authScheme == RTSP_AUTH_DIGEST ? "Digest" : r.authScheme == RTSP_AUTH_BASIC ? "Basic" : "";
        std::string challenge;
        if (*scheme != 0) {
            challenge = FormatString(" (%s", scheme);
            if (!r.realm.empty()) challenge += FormatString(", realm \"%s\"", Printable(r.realm).c_str());
            challenge += ")";
        }
        return Answer(r) + challenge + ": check user name and password";
    }
    if (r.transportRefused) return "camera refused the transport (" + Answer(r) + " over UDP and over TCP)";
    if (r.failedMethod != 0 && r.statusCode != 0) return Answer(r);
    if (r.failedMethod != 0 && r.noAnswer)
        return FormatString("no answer to %s from %s:%u", RtspMethodName(r.failedMethod).c_str(), host.c_str(),
                            unsigned(port));
    if (r.serverClosed) return "session ended by the camera (connection closed)";
    return std::string();
}

}  // namespace zentavo
