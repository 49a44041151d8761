#include "streaming/RTSPResponseParser.h"

#include <cstdint>
#include <cstdlib>

#include "runtime/TextUtils.h"
#include "streaming/RTSPAuthentication.h"

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

std::string TrimBlanks(const std::string& s) { return Trim(s); }

// The text after the first colon of a header line (a classified line has
// one), blanks trimmed.
std::string HeaderValue(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : TrimBlanks(line.substr(colon + 1));
}

bool ReadNumberValue(const std::string& line, uint32_t& value) { return ReadUnsigned(HeaderValue(line), 0, value); }

bool ReadWordValue(const std::string& line, size_t maxLength, std::string& word) {
    const std::string value = ToLower(HeaderValue(line));
    size_t end = 0;
    while (end < value.size() && !IsSpace(value[end]) && value[end] != ';') ++end;
    if (end == 0) return false;
    word = value.substr(0, std::min(end, maxLength));
    return true;
}

// A port number of one to five digits and nothing else; 0 otherwise.
uint16_t ReadPort(const std::string& s) {
    if (s.empty() || s.size() > 5) return 0;
    uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + uint32_t(c - '0');
    }
    return v <= 0xFFFF ? static_cast<uint16_t>(v) : 0;
}

// A decimal number at the start of s, clamped to int32; false without a digit.
bool ReadSeconds(const std::string& s, int32_t& value) {
    size_t i = SkipSpace(s, 0);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i++] - '0');
        if (v > INT32_MAX) v = INT32_MAX;
    }
    value = int32_t(negative ? -v : v);
    return true;
}

}  // namespace

void CRTSPResponseParser::Reset() {
    const RTSP_RESPONSE previous = m_response;
    m_response = RTSP_RESPONSE();
    m_response.interleavedChannel = previous.interleavedChannel;
    m_response.interleavedRtpChannel = previous.interleavedRtpChannel;
    m_response.interleavedRtcpChannel = previous.interleavedRtcpChannel;
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
                 {"www-authenticate", HEADER_WWW_AUTHENTICATE},
                 {"content-location", HEADER_CONTENT_LOCATION}};
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

    bool challenged = false;
    for (;;) {
        const std::string line = ReadLine(text, pos);
        const HeaderKind kind = Classify(line);
        if (kind == HEADER_EMPTY) break;
        if (kind == HEADER_WWW_AUTHENTICATE) challenged = true;
        if (!HandleHeader(kind, line)) return false;
    }
    // The challenges are weighed together: several lines, or several
    // challenges in one line, offer a choice.
    if (challenged && !HandleAuthenticate(text)) return false;

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
        // Each SETUP names its own stream's port and channels; an earlier
        // one's are wrong. Channels it does not name are those asked for.
        m_response.serverRtcpPort = 0;
        m_response.interleavedRtpChannel = 0;
        m_response.interleavedRtcpChannel = 1;
        ScanInterleaved(text);
    }
    return true;
}

bool CRTSPResponseParser::HandleHeader(HeaderKind kind, const std::string& line) {
    switch (kind) {
    case HEADER_CSEQ:
        return ReadNumberValue(line, m_response.cseq);
    case HEADER_CONTENT_BASE:
        return HandleContentBase(line);
    case HEADER_CONTENT_LOCATION:
        m_response.contentLocation = HeaderValue(line);
        return true;
    case HEADER_CONTENT_TYPE:
        return ReadWordValue(line, MAX_CONTENT_TYPE_LENGTH, m_response.contentType);
    case HEADER_CONTENT_LENGTH:
        return ReadNumberValue(line, m_response.contentLength);
    case HEADER_SESSION:
        return HandleSession(line);
    default:
        return true;
    }
}

bool CRTSPResponseParser::HandleContentBase(const std::string& line) {
    // Kept as sent: the URL builder mends the shapes servers send (no
    // scheme, a doubled one) and falls back where nothing usable is left.
    const std::string value = HeaderValue(line);
    if (!value.empty()) m_response.contentBase = value;
    return true;
}

bool CRTSPResponseParser::HandleSession(const std::string& line) {
    const std::string value = HeaderValue(line);
    const size_t semicolon = value.find(';');
    m_response.session = TrimBlanks(value.substr(0, semicolon));
    if (semicolon != std::string::npos) {
        for (const std::string& piece : Split(value.substr(semicolon + 1), ';')) {
            const size_t equals = piece.find('=');
            if (equals == std::string::npos || ToLower(TrimBlanks(piece.substr(0, equals))) != "timeout") continue;
            // A time-out that cannot be read, or none at all, would make
            // the keep-alive run away or never come: the RFC's default.
            int32_t seconds = 0;
            if (!ReadSeconds(piece.substr(equals + 1), seconds) || seconds <= 0) seconds = 30;
            m_response.sessionTimeout = seconds;
        }
    }
    return !m_response.session.empty();
}

bool CRTSPResponseParser::HandleAuthenticate(const std::string& text) {
    AUTH_CHALLENGES offered;
    FindChallenges(text, offered);
    m_response.authScheme = RTSP_AUTH_NONE;
    if (offered.digestOffered) {
        // Never Basic where Digest is offered; a Digest offer that cannot
        // be answered leaves nothing to answer with.
        m_response.authScheme = RTSP_AUTH_DIGEST;
        if (!offered.digestUsable) return false;
        m_response.realm = offered.digest.realm;
        m_response.nonce = offered.digest.nonce;
    } else if (offered.basicOffered) {
        m_response.authScheme = RTSP_AUTH_BASIC;
        m_response.realm = offered.basicRealm;
    }
    return true;
}

void CRTSPResponseParser::ScanInterleaved(const std::string& text) {
    // The head only: a body is no place for the transport granted.
    bool channelsNamed = false;
    size_t pos = text.find_first_of("\r\n");  // past the status line
    while (pos != std::string::npos && pos < text.size()) {
        pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        if (end == pos) break;  // the blank line
        const std::string line = text.substr(pos, end - pos);
        pos = end;
        if (Classify(line) != HEADER_TRANSPORT) continue;
        const int32_t channel = FindValueInt("interleaved", "=", line, ";-");
        m_response.interleavedChannel = static_cast<uint8_t>(channel & 0xFF);
        // A second Transport header does not move the stream off the
        // channels the first one granted.
        if (!channelsNamed) channelsNamed = ReadInterleavedChannels(HeaderValue(line));
        ReadServerRtcpPort(HeaderValue(line));
    }
}

bool CRTSPResponseParser::ReadInterleavedChannels(const std::string& transport) {
    // Parameters in any case and spacing; only the first transport of a
    // list is the one the server chose.
    const std::string first = transport.substr(0, transport.find(','));
    for (const std::string& piece : Split(first, ';')) {
        const size_t equals = piece.find('=');
        if (equals == std::string::npos || ToLower(TrimBlanks(piece.substr(0, equals))) != "interleaved") continue;
        const std::string range = TrimBlanks(piece.substr(equals + 1));
        uint32_t rtp = 0;
        if (!ReadUnsigned(range, 0, rtp) || rtp > 255) continue;
        uint32_t rtcp = rtp + 1;
        const size_t dash = range.find('-');
        if (dash == std::string::npos || !ReadUnsigned(range, dash + 1, rtcp) || rtcp > 255) rtcp = (rtp + 1) & 0xFF;
        m_response.interleavedRtpChannel = static_cast<uint8_t>(rtp);
        m_response.interleavedRtcpChannel = static_cast<uint8_t>(rtcp);
        m_response.interleavedChannel = static_cast<uint8_t>(rtp);
        return true;
    }
    return false;
}

void CRTSPResponseParser::ReadServerRtcpPort(const std::string& transport) {
    const std::string first = transport.substr(0, transport.find(','));
    for (const std::string& piece : Split(first, ';')) {
        const size_t equals = piece.find('=');
        if (equals == std::string::npos || ToLower(TrimBlanks(piece.substr(0, equals))) != "server_port") continue;
        const std::string range = TrimBlanks(piece.substr(equals + 1));
        const size_t dash = range.find('-');
        const uint16_t rtp = ReadPort(TrimBlanks(range.substr(0, dash)));
        if (rtp == 0) continue;
        uint16_t rtcp = dash == std::string::npos ? 0 : ReadPort(TrimBlanks(range.substr(dash + 1)));
        // A lone port, or a second that cannot be read, is the RTP port of
        // the usual even/odd pair.
        if (rtcp == 0 && rtp < 0xFFFF) rtcp = static_cast<uint16_t>(rtp + 1);
        m_response.serverRtcpPort = rtcp;
    }
}

}  // namespace zentavo
