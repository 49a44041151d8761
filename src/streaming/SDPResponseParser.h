// Reads the session description (SDP, RFC 4566) of a DESCRIBE reply: for one
// video, one audio and one metadata stream the port, transport, connection
// address, control URL and encoding, plus the video decoder set-up data
// (H.264 parameter sets, MPEG-4 configuration).
//
// Cameras write descriptions with broken session lines, stray blanks,
// several sections of each kind and vendor sections of their own. Only what
// the driver uses is read, and a line it cannot read is passed over: no
// line fails the description. Of each kind the first section counts (a
// later audio section is typically the back channel, a later video one an
// alternative the driver does not set up).
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
    // The RTP payload types of the m= line, in its order.
    std::vector<uint8_t> payloadTypes;
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

    // Clears the record, then parses; false only for a text with no line
    // that looks like a description line at all.
    bool Parse(const std::string& text);
    void Clear() { m_description.Clear(); }

    const SESSION_DESCRIPTION& Description() const { return m_description; }

private:
    void HandleMedia(const std::string& line);
    void HandleConnection(const std::string& line);
    void HandleControl(const std::string& line);
    void HandleRtpmap(const std::string& line);
    void HandleFormatParameters(const std::string& line);
    void StoreParameterSets(const std::string& sets);
    // True when the attribute's payload type (the number after the colon)
    // belongs to the current media; for an unreadable number too.
    bool ForCurrentFormat(const std::string& line) const;

    SESSION_DESCRIPTION m_description;
    int m_kind = SDP_MEDIA_NONE;
    bool m_seen[3] = {false, false, false};
};

}  // namespace zentavo
