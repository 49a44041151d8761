// Rebuilds MPEG-4 Visual video object planes from RTP packets (RFC 3016),
// one frame per VOP. Waits for the first intra-coded VOP, puts the
// configuration headers in front of every intra-coded VOP and reads the
// picture size from them.
#pragma once

#include "parsers/MP4Parser.h"
#include "parsers/RTPMediaParser.h"

namespace zentavo {

class CMpeg4RTPMediaParser : public CRTPMediaParser {
public:
    explicit CMpeg4RTPMediaParser(IDriver* driver);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

    bool Waiting() const { return m_waiting; }
    const std::vector<uint8_t>& InBandHeader() const { return m_inBandHeader; }

private:
    void ProcessFrame(uint32_t timestamp);

    CMP4Parser m_headerParser;
    // Configuration headers last seen at the start of a packet.
    std::vector<uint8_t> m_inBandHeader;
    // Set until the first intra-coded VOP; nothing is collected meanwhile.
    bool m_waiting = true;
    // The VOP being collected is intra-coded and carries the headers.
    bool m_withHeader = false;
    // RTP timestamp of the VOP being collected: senders that never set the
    // marker bit end a VOP only by starting the next one at a new timestamp.
    uint32_t m_frameTimestamp = 0;
};

}  // namespace zentavo
