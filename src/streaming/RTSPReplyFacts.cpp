#include "streaming/RTSPReplyFacts.h"

#include <algorithm>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

// Header values by name, case-insensitive, from the head of the reply only.
template <typename Visit>
void ForEachHeader(const std::string& reply, const std::string& lowerName, Visit visit) {
    size_t pos = reply.find_first_of("\r\n");
    while (pos != std::string::npos && pos < reply.size()) {
        pos = reply.find_first_not_of('\r', pos);
        if (pos == std::string::npos || reply[pos] != '\n') break;
        ++pos;
        const size_t end = std::min(reply.find_first_of("\r\n", pos), reply.size());
        if (end == pos) break;  // the blank line: the head ends
        const std::string line = reply.substr(pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && ToLower(Trim(line.substr(0, colon))) == lowerName)
            visit(Trim(line.substr(colon + 1)));
        pos = end;
    }
}

bool ReadNumber(const std::string& s, size_t& i, uint32_t& value) {
    const size_t start = i;
    value = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 6) value = value * 10 + uint32_t(s[i++] - '0');
    return i > start;
}

}  // namespace

uint32_t RtspStatusCode(const std::string& reply) {
    if (reply.compare(0, 5, "RTSP/") != 0) return 0;
    size_t i = reply.find(' ');
    if (i == std::string::npos) return 0;
    while (i < reply.size() && reply[i] == ' ') ++i;
    uint32_t code = 0;
    return ReadNumber(reply, i, code) ? code : 0;
}

std::string RtspReasonPhrase(const std::string& reply) {
    const std::string line = reply.substr(0, std::min(reply.find_first_of("\r\n"), reply.size()));
    size_t i = line.find(' ');
    if (i == std::string::npos) return std::string();
    i = line.find_first_not_of(' ', i);
    if (i == std::string::npos) return std::string();
    i = line.find(' ', i);
    if (i == std::string::npos) return std::string();
    std::string reason = Trim(line.substr(i));
    // A reason phrase ends up in log lines: keep it printable and short.
    std::string clean;
    for (char c : reason)
        if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F && clean.size() < 80)
            clean += c;
    return clean;
}

bool RtspPublicLists(const std::string& reply, const std::string& method, bool& known) {
    bool listed = false;
    ForEachHeader(reply, "public", [&](const std::string& value) {
        known = true;
        size_t start = 0;
        while (start <= value.size()) {
            const size_t comma = std::min(value.find(',', start), value.size());
            if (ToUpper(Trim(value.substr(start, comma - start))) == method) listed = true;
            start = comma + 1;
        }
    });
    return listed;
}

bool RtspRedirectTarget(const std::string& reply, std::string& host, uint16_t& port, std::string& path) {
    std::string location;
    ForEachHeader(reply, "location", [&](const std::string& value) {
        if (location.empty()) location = value;
    });
    if (ToLower(location.substr(0, 7)) != "rtsp://") return false;
    const size_t slash = location.find('/', 7);
    const std::string authority = location.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    if (authority.empty() || authority.find('@') != std::string::npos) return false;
    const size_t colon = authority.rfind(':');
    uint32_t number = 554;
    if (colon != std::string::npos) {
        size_t i = colon + 1;
        if (!ReadNumber(authority, i, number) || i != authority.size() || number == 0 || number > 65535) return false;
    }
    host = authority.substr(0, colon);
    if (host.empty()) return false;
    port = uint16_t(number);
    path = slash == std::string::npos ? std::string("/") : location.substr(slash);
    return true;
}

bool RtspRefusesTransport(uint32_t statusCode, const std::string& reasonPhrase) {
    if (statusCode == 461 || statusCode == 406) return true;
    return statusCode / 100 == 4 && ToLower(reasonPhrase).find("transport") != std::string::npos;
}

}  // namespace zentavo
