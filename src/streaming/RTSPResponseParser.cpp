#include "streaming/RTSPResponseParser.h"

#include <cstdlib>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

constexpr size_t MAX_PROTOCOL_LENGTH = 127;
constexpr size_t MAX_CONTENT_TYPE_LENGTH = 255;
constexpr size_t NO_POSITION = std::string::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Reads one line from pos. The terminator is CR LF, or a lone CR or LF from
// a lenient server. At the end of the text (no terminator left) the line is
// empty and pos becomes NO_POSITION.
std::string ReadLine(const std::string& text, size_t& pos) {
    if (pos == NO_POSITION || pos > text.size()) {
        pos = NO_POSITION;
        return std::string();
    }
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
        pos = NO_POSITION;
        return std::string();
    }
    std::string line = text.substr(pos, end - pos);
    pos = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    return line;
}

size_t SkipSpace(const std::string& s, size_t i) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    return i;
}

// Decimal digits at i (after white space and an optional sign, as the C
// library reads them); false when there is no digit.
bool ReadUnsigned(const std::string& s, size_t i, uint32_t& value) {
    i = SkipSpace(s, i);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    uint32_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') v = v * 10 + uint32_t(s[i++] - '0');
    value = negative ? 0u - v : v;
    return true;
}

// "<prefix> %lu" on a lower-cased line: the prefix must stand at the start.
bool ScanNumberAfter(const std::string& lower, const std::string& prefix, uint32_t& value) {
    if (lower.compare(0, prefix.size(), prefix) != 0) return false;
    return ReadUnsigned(lower, prefix.size(), value);
}

bool ScanWordAfter(const std::string& lower, const std::string& prefix, size_t maxLength, std::string& word) {
    if (lower.compare(0, prefix.size(), prefix) != 0) return false;
    const size_t start = SkipSpace(lower, prefix.size());
    size_t end = start;
    while (end < lower.size() && !IsSpace(lower[end])) ++end;
    if (end == start) return false;
    word = lower.substr(start, std::min(end - start, maxLength));
    return true;
}

std::string TrimBlanks(const std::string& s) { return Trim(s); }

}  // namespace

void CRTSPResponseParser::Reset() {
    const uint8_t channel = m_response.interleavedChannel;
    m_response = RTSP_RESPONSE();
    m_response.interleavedChannel = channel;
}

CRTSPResponseParser::HeaderKind CRTSPResponseParser::Classify(const std::string& line) {
    if (line.empty()) return HEADER_EMPTY;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon < 2) return HEADER_UNKNOWN;
    const std::string name = ToLower(TrimBlanks(line.substr(0, colon)));
    static const struct {
        const char* name;
        HeaderKind kind;
    } names[] = {{"cseq", HEADER_CSEQ},
                 {"date", HEADER_DATE},
                 {"content-base", HEADER_CONTENT_BASE},
                 {"content-type", HEADER_CONTENT_TYPE},
                 {"content-length", HEADER_CONTENT_LENGTH},
                 {"transport", HEADER_TRANSPORT},
                 {"session", HEADER_SESSION},
                 {"range", HEADER_RANGE},
                 {"rtp-info", HEADER_RTP_INFO},
                 {"server", HEADER_SERVER},
                 {"accept-ranges", HEADER_ACCEPT_RANGES},
                 {"rtcp-interval", HEADER_RTCP_INTERVAL},
                 {"www-authenticate", HEADER_WWW_AUTHENTICATE}};
    for (const auto& n : names)
        if (name == n.name) return n.kind;
    return HEADER_UNKNOWN;
}

bool CRTSPResponseParser::ParseStatusLine(const std::string& line) {
    if (line.empty()) return false;
    const size_t start = SkipSpace(line, 0);
    size_t end = start;
    while (end < line.size() && !IsSpace(line[end])) ++end;
    if (end == start || end - start > MAX_PROTOCOL_LENGTH) return false;
    uint32_t status = 0;
    if (!ReadUnsigned(line, end, status)) return false;
    m_response.protocol = line.substr(start, end - start);
    m_response.statusCode = status;
    m_response.contentLength = 0;
    return true;
}

bool CRTSPResponseParser::ParseResponse(const std::string& text, int method) {
    size_t pos = 0;
    if (!ParseStatusLine(ReadLine(text, pos))) return false;
    if (m_response.statusCode != 200 && m_response.statusCode != 401) return false;

    for (;;) {
        const std::string line = ReadLine(text, pos);
        const HeaderKind kind = Classify(line);
        if (kind == HEADER_EMPTY) break;
        if (!HandleHeader(kind, line)) return false;
    }

    if (m_response.contentLength != 0 && pos == NO_POSITION) return false;

    if (method == RTSP_DESCRIBE) {
        // Only a description the server actually sent is read: the body of
        // a 401 reply is an error page, and rejecting it would keep the
        // client from answering the challenge.
        if (m_response.statusCode != 200) return true;
        std::string body;
        if (m_response.contentLength != 0 && pos != NO_POSITION && pos < text.size())
            body = text.substr(pos, m_response.contentLength);
        CSDPResponseParser sdp;
        if (!sdp.Parse(body)) return false;
        m_response.description = sdp.Description();
    } else if (method == RTSP_SETUP) {
        ScanInterleaved(text);
    }
    return true;
}

bool CRTSPResponseParser::HandleHeader(HeaderKind kind, const std::string& line) {
    switch (kind) {
    case HEADER_CSEQ:
        return ScanNumberAfter(ToLower(line), "cseq:", m_response.cseq);
    case HEADER_CONTENT_BASE:
        return HandleContentBase(line);
    case HEADER_CONTENT_TYPE:
        return ScanWordAfter(ToLower(line), "content-type:", MAX_CONTENT_TYPE_LENGTH, m_response.contentType);
    case HEADER_CONTENT_LENGTH:
        return ScanNumberAfter(ToLower(line), "content-length:", m_response.contentLength);
    case HEADER_SESSION:
        return HandleSession(line);
    case HEADER_WWW_AUTHENTICATE:
        return HandleAuthenticate(line);
    default:
        return true;
    }
}

bool CRTSPResponseParser::HandleContentBase(const std::string& line) {
    const std::string lower = ToLower(line);
    const size_t name = lower.find("content-base:");
    if (name == std::string::npos) {
        m_response.contentBase.clear();
        return false;
    }
    const size_t url = lower.find("rtsp://", name);
    if (url != std::string::npos) m_response.contentBase = TrimBlanks(line.substr(url));
    return true;
}

bool CRTSPResponseParser::HandleSession(const std::string& line) {
    static const char delimiters[] = ";\r\n";
    m_response.session = FindValue("Session:", " ", line, delimiters);
    if (line.find(';') != std::string::npos) {
        const std::string timeout = FindValue("timeout", "=", line, delimiters);
        if (timeout.empty()) {
            m_response.session.clear();
        } else {
            const long long seconds = std::strtoll(timeout.c_str(), nullptr, 10);
            int32_t value = seconds > INT32_MAX ? INT32_MAX : seconds < INT32_MIN ? INT32_MIN : int32_t(seconds);
            m_response.sessionTimeout = value == 0 ? 30 : value;
        }
    }
    return !m_response.session.empty();
}

bool CRTSPResponseParser::HandleAuthenticate(const std::string& line) {
    m_response.authScheme = RTSP_AUTH_NONE;
    static const std::string header = "WWW-Authenticate: ";
    const size_t at = line.find(header);
    if (at == std::string::npos) return false;
    const size_t start = at + header.size();
    const size_t end = line.find_first_of(" \t\r\n", start);
    if (end == std::string::npos) return false;
    const std::string scheme = line.substr(start, end - start);
    if (scheme == "Digest")
        m_response.authScheme = RTSP_AUTH_DIGEST;
    else if (scheme == "Basic")
        m_response.authScheme = RTSP_AUTH_BASIC;
    else
        return true;

    const std::string rest = line.substr(end);
    static const char delimiters[] = ",\r\n";
    m_response.realm = RemoveChars("\"", TrimBlanks(FindValue("realm", "=", rest, delimiters)));
    m_response.nonce = RemoveChars("\"", TrimBlanks(FindValue("nonce", "=", rest, delimiters)));
    if (m_response.authScheme == RTSP_AUTH_BASIC) return true;
    return !m_response.realm.empty() && !m_response.nonce.empty();
}

void CRTSPResponseParser::ScanInterleaved(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of("\r\n", pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end;
        if (Classify(line) != HEADER_TRANSPORT) continue;
        const int32_t channel = FindValueInt("interleaved", "=", line, ";-");
        m_response.interleavedChannel = static_cast<uint8_t>(channel & 0xFF);
    }
}

}  // namespace zentavo
