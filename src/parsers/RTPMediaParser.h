// Base of the depacketizers that rebuild whole frames from the RTP packets
// of one video stream, handed over in arrival order by the RTP channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parsers/PictureSize.h"

namespace zentavo {

class CRTPPacket;
class IDriver;
class IMediaParserClient;

class CRTPMediaParser {
public:
    explicit CRTPMediaParser(IDriver* driver) : m_driver(driver) {}
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // One packet; never throws.
    virtual void ProcessPacket(const CRTPPacket& packet) = 0;
    virtual void Reset() = 0;
    // Decoder set-up data from the session description: for H.264 the
    // sequence and picture parameter sets (without start codes), for MPEG-4
    // the configuration headers.
    virtual void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                  const std::vector<uint8_t>& config);

    void SetClient(IMediaParserClient* client) { m_client = client; }
    const CPictureSize& PictureSize() const { return m_size; }

    // True while the frame buffer is within the limit; logs otherwise.
    bool CheckBufferSize();

protected:
    // True when the packet follows the previous one without a gap; the
    // first packet ever is always in order. Remembers the number.
    bool CheckSequence(uint16_t sequenceNumber);
    // True for a second copy of the packet just handled (networks and
    // senders repeat packets); it carries nothing new and must neither be
    // appended nor cost the access unit in progress.
    bool IsRepeat(uint16_t sequenceNumber) const { return !m_firstPacket && sequenceNumber == m_lastSequence; }
    // Hands the frame buffer to the host as one frame of the given code with
    // the current picture size; a copy failure is logged under operation and
    // it, like a refusal, resets the parser.
    void DeliverFrameBuffer(uint32_t code, uint32_t timestamp, const char* operation);

    uint16_t m_lastSequence = 0;
    bool m_firstPacket = true;
    IDriver* m_driver;
    IMediaParserClient* m_client = nullptr;
    // Emptied with clear() so its capacity is reused from frame to frame.
    std::vector<uint8_t> m_frameBuffer;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
    std::vector<uint8_t> m_config;
    CPictureSize m_size;
};

}  // namespace zentavo
