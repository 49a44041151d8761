// Reads the session description (SDP, RFC 4566) of a DESCRIBE reply: for one
// video, one audio and one metadata stream the port, transport, connection
// address, control URL and encoding, plus the video decoder set-up data
// (H.264 parameter sets, MPEG-4 configuration).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zentavo {

enum SdpMediaKind {
    SDP_MEDIA_NONE = 0,
    SDP_MEDIA_VIDEO = 1,
    SDP_MEDIA_AUDIO = 2,
    SDP_MEDIA_METADATA = 3,
};

struct SDP_MEDIA {
    uint16_t port = 0;
    std::string protocol;
    std::string connection;  // address without any "/" suffix
    std::string control;
    std::string encoding;    // e.g. "H264/90000"
};

struct SESSION_DESCRIPTION {
    // Indexed by kind - 1: video, audio, metadata.
    SDP_MEDIA media[3];
    std::vector<uint8_t> parameterSet1;  // H.264 sequence parameter set
    std::vector<uint8_t> parameterSet2;  // H.264 picture parameter set
    std::vector<uint8_t> configuration;  // MPEG-4 configuration headers

    // kind 1 to 3; anything else gives null.
    SDP_MEDIA* Media(int kind) { return kind >= 1 && kind <= 3 ? &media[kind - 1] : nullptr; }
    const SDP_MEDIA* Media(int kind) const { return kind >= 1 && kind <= 3 ? &media[kind - 1] : nullptr; }
    void Clear();
};

class CSDPResponseParser {
public:
    // Decoded set-up data longer than this is not kept.
    static constexpr int MAX_DECODED_SIZE = 256;

    CSDPResponseParser() = default;
    virtual ~CSDPResponseParser() = default;

    // Clears the record, then parses; false on the first malformed line
    // (what was read before it is kept).
    bool Parse(const std::string& text);
    void Clear() { m_description.Clear(); }

    const SESSION_DESCRIPTION& Description() const { return m_description; }

private:
    bool HandleMedia(const std::string& line);
    bool HandleConnection(const std::string& line);
    bool HandleControl(const std::string& line);
    bool HandleRtpmap(const std::string& line);
    bool HandleFormatParameters(const std::string& line);

    SESSION_DESCRIPTION m_description;
    int m_kind = SDP_MEDIA_NONE;
};

}  // namespace zentavo
