#include "streaming/RTSPRequestBuilder.h"

#include <cctype>

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

std::string BuildRequestUrl(const std::string& host, uint16_t port, const std::string& path) {
    const size_t start = path.find_first_not_of('/');
    const std::string relative = start == std::string::npos ? std::string() : path.substr(start);
    return FormatString("rtsp://%s:%u/", host.c_str(), unsigned(port)) + relative;
}

std::string NormalizeRtspUrl(const std::string& value, const std::string& requestUrl) {
    std::string url = Trim(value);
    if (url.empty()) return std::string();
    if (url[0] == '/') {
        // A path alone: under the request URL's scheme and authority.
        const size_t authority = requestUrl.find("://");
        if (authority == std::string::npos) return std::string();
        const size_t path = requestUrl.find('/', authority + 3);
        return requestUrl.substr(0, path) + url;
    }
    static const std::string scheme = "rtsp://";
    size_t rest = 0;
    while (ToLower(url.substr(rest, scheme.size())) == scheme) rest += scheme.size();
    url = url.substr(rest);
    if (url.empty() || url.find("://") < url.find_first_of("/?")) return std::string();
    if (!isalnum(static_cast<unsigned char>(url[0])) && url[0] != '[') return std::string();
    return scheme + url;
}

std::string BuildBaseUrl(const std::string& contentBase, const std::string& contentLocation,
                         const std::string& host, uint16_t port, const std::string& path) {
    const std::string request = BuildRequestUrl(host, port, path);
    std::string url = NormalizeRtspUrl(contentBase, request);
    if (url.empty()) url = NormalizeRtspUrl(contentLocation, request);
    return url.empty() ? request : url;
}

std::string BuildBaseUrl(const std::string& contentBase, const std::string& host, uint16_t port,
                         const std::string& path) {
    return BuildBaseUrl(contentBase, std::string(), host, port, path);
}

std::string BuildControlUrl(const std::string& baseUrl, const std::string& control) {
    if (control.find("://") != std::string::npos) return control;
    if (control.empty() || control == "*") return baseUrl;
    if (baseUrl.empty()) return control;
    // With a query in the base, GStreamer's rtspsrc puts the control before
    // the query (rtsp://h/H264/trackID=1?channel=1) while FFmpeg appends it
    // to the whole URL. A base ending in "/" is a prefix its server shaped
    // for appending, so it is appended to as it stands; otherwise the
    // control goes before the query, as GStreamer does: a path segment
    // behind the query would be read as part of a query value.
    std::string url = baseUrl;
    std::string query;
    const size_t question = url.find('?');
    if (question != std::string::npos && url.back() != '/' && control.find('?') == std::string::npos) {
        query = url.substr(question);
        url.erase(question);
    }
    if (!url.empty() && url.back() == '/') url.pop_back();
    if (control[0] != '/') url += '/';
    return url + control + query;
}

std::string BuildTransportHeader(int mode, bool multicast, const SDP_MEDIA& media, uint16_t clientRtpPort,
                                 uint16_t clientRtcpPort) {
    std::string protocol = media.protocol;
    // UDP is the default lower transport; a few servers refuse it spelled
    // out as RTP/AVP/UDP.
    if (protocol.empty() || protocol == "RTP/AVP" || protocol == "RTP/AVP/UDP")
        protocol = mode == RTSP_TRANSPORT_UDP ? "RTP/AVP" : "RTP/AVP/TCP";
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
