// Turns the text of one RTSP response (status line, headers, optional body)
// into the record the RTSP client reads. One instance is reused for every
// response of a connection: a field a response does not carry keeps the
// value an earlier response gave it.
#pragma once

#include <cstdint>
#include <string>

#include "streaming/SDPResponseParser.h"

namespace zentavo {

enum RtspMethod {
    RTSP_DESCRIBE = 1,
    RTSP_SETUP = 2,
    RTSP_PLAY = 3,
    RTSP_TEARDOWN = 4,
    RTSP_OPTIONS = 5,
    RTSP_PAUSE = 6,
    RTSP_GET_PARAMETER = 7,
};

enum RtspAuthScheme {
    RTSP_AUTH_NONE = 0,
    RTSP_AUTH_BASIC = 1,
    RTSP_AUTH_DIGEST = 2,
};

struct RTSP_RESPONSE {
    SESSION_DESCRIPTION description;
    std::string protocol;        // first word of the status line
    uint32_t statusCode = 0;
    uint32_t cseq = 0;
    std::string contentBase;      // the header's value as received, trimmed
    std::string contentLocation;  // likewise; the base URL when Content-Base is absent
    std::string contentType;     // first word, lower case
    uint32_t contentLength = 0;
    std::string session;
    int32_t sessionTimeout = 0;  // seconds, 0 = none announced
    int32_t authScheme = RTSP_AUTH_NONE;
    std::string realm;
    std::string nonce;
    uint8_t interleavedChannel = 0;
    // The channels the last SETUP answer's Transport granted (those asked
    // for, 0 and 1, when it names none); RTP and RTCP are routed by these.
    uint8_t interleavedRtpChannel = 0;
    uint8_t interleavedRtcpChannel = 1;
    // The camera's RTCP port from the SETUP answer's server_port (the
    // second of the pair, or the first plus one); 0 when it names none.
    uint16_t serverRtcpPort = 0;
};

class CRTSPResponseParser {
public:
    CRTSPResponseParser() = default;
    virtual ~CRTSPResponseParser() = default;

    // text is the whole response as received, of any length; method is the
    // request's RtspMethod. True when the response was accepted.
    bool ParseResponse(const std::string& text, int method);
    // Clears everything but the interleaved channels.
    void Reset();

    const RTSP_RESPONSE& Response() const { return m_response; }
    // Requests count on from the CSeq of the last response (0 after Reset).
    uint32_t NextCSeq() { return ++m_response.cseq; }

    // Header kinds, as classified by name.
    enum HeaderKind {
        HEADER_UNKNOWN = 0,
        HEADER_CSEQ = 1,
        HEADER_DATE = 2,
        HEADER_CONTENT_BASE = 3,
        HEADER_CONTENT_TYPE = 4,
        HEADER_CONTENT_LENGTH = 5,
        HEADER_TRANSPORT = 6,
        HEADER_SESSION = 7,
        HEADER_RANGE = 8,
        HEADER_RTP_INFO = 9,
        HEADER_EMPTY = 10,
        HEADER_SERVER = 11,
        HEADER_ACCEPT_RANGES = 12,
        HEADER_RTCP_INTERVAL = 13,
        HEADER_WWW_AUTHENTICATE = 14,
        HEADER_CONTENT_LOCATION = 16,
    };
    static HeaderKind Classify(const std::string& line);

private:
    bool ParseStatusLine(const std::string& line);
    bool HandleHeader(HeaderKind kind, const std::string& line);
    bool HandleContentBase(const std::string& line);
    bool HandleSession(const std::string& line);
    bool HandleAuthenticate(const std::string& text);
    void ScanInterleaved(const std::string& text);
    // True when the first transport of the list names a usable pair.
    bool ReadInterleavedChannels(const std::string& transport);
    void ReadServerRtcpPort(const std::string& transport);

    RTSP_RESPONSE m_response;
};

}  // namespace zentavo
