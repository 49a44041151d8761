#include "streaming/RTSPRequestBuilder.h"

#include "runtime/TextUtils.h"
#include "streaming/RTSPResponseParser.h"

namespace zentavo {

namespace {

const char PROTOCOL[] = "RTSP/1.0\r\n";
const char USER_AGENT[] = "User-Agent: Zentavo\r\n";
const char ACCEPT[] = "Accept: application/sdp\r\n";

}  // namespace

std::string RtspMethodName(int method) {
    switch (method) {
    case RTSP_DESCRIBE: return "DESCRIBE";
    case RTSP_SETUP: return "SETUP";
    case RTSP_PLAY: return "PLAY";
    case RTSP_TEARDOWN: return "TEARDOWN";
    case RTSP_OPTIONS: return "OPTIONS";
    case RTSP_PAUSE: return "PAUSE";
    case RTSP_GET_PARAMETER: return "GET_PARAMETER";
    default: return std::string();
    }
}

std::string BuildBaseUrl(const std::string& contentBase, const std::string& host, uint16_t port,
                         const std::string& path) {
    if (contentBase.find("rtsp://") != std::string::npos) return contentBase;
    const size_t start = path.find_first_not_of('/');
    const std::string relative = start == std::string::npos ? std::string() : path.substr(start);
    return FormatString("rtsp://%s:%u/", host.c_str(), unsigned(port)) + relative;
}

std::string BuildControlUrl(const std::string& baseUrl, const std::string& control) {
    if (control.find("://") != std::string::npos) return control;
    if (control.empty()) return baseUrl;
    if (baseUrl.empty()) return control;
    std::string url = baseUrl;
    if (url.back() == '/') url.pop_back();
    if (control[0] != '/') url += '/';
    return url + control;
}

std::string BuildTransportHeader(int mode, bool multicast, const SDP_MEDIA& media, uint16_t clientRtpPort,
                                 uint16_t clientRtcpPort) {
    std::string protocol = media.protocol;
    if (protocol.empty() || protocol == "RTP/AVP") protocol = mode == RTSP_TRANSPORT_UDP ? "RTP/AVP/UDP" : "RTP/AVP/TCP";
    const bool multicastUdp = multicast && mode == RTSP_TRANSPORT_UDP;
    std::string header = "Transport: " + protocol + (multicastUdp ? ";multicast" : ";unicast");
    if (multicastUdp)
        header += FormatString(";client_port=%u-%u", unsigned(media.port), unsigned(uint16_t(media.port + 1)));
    else if (mode == RTSP_TRANSPORT_INTERLEAVED)
        header += ";interleaved=0-1";
    else
        header += FormatString(";client_port=%u-%u", unsigned(clientRtpPort), unsigned(clientRtcpPort));
    return header + "\r\n";
}

std::string FormatRequest(int method, const RTSP_REQUEST_PARTS& parts) {
    const std::string name = RtspMethodName(method);
    if (name.empty()) return std::string();
    const std::string cseq = FormatString("CSeq: %u\r\n", parts.cseq);
    const std::string session = parts.session.empty() ? std::string() : "Session: " + parts.session + "\r\n";
    const std::string range = "Range: " + (parts.range.empty() ? std::string("npt=0.000-") : parts.range) + "\r\n";
    const std::string& url = method == RTSP_SETUP ? parts.controlUrl : parts.baseUrl;
    std::string text = name + " " + url + " " + PROTOCOL + cseq + parts.authorization + USER_AGENT;
    switch (method) {
    case RTSP_DESCRIBE: text += ACCEPT; break;
    case RTSP_SETUP: text += parts.transport; break;
    case RTSP_PLAY:
    case RTSP_PAUSE: text += session + range; break;
    default: text += session; break;
    }
    return text + "\r\n";
}

}  // namespace zentavo
