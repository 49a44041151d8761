// Cuts the byte stream of an RTSP connection in interleaved mode into
// "$"-framed packets: RTP packets and RTCP BYE notices go to the user,
// anything else (including RTSP replies in the stream) is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentavo {

class CRTPPacket;

class IRTSPStreamParserUser {
public:
    virtual ~IRTSPStreamParserUser() = default;
    // The packet lives only for the call.
    virtual void OnRTPPacket(CRTPPacket& packet) = 0;
    virtual void OnRTCPBye() = 0;
};

class CRTSPStreamParser {
public:
    CRTSPStreamParser(uint8_t rtpChannel, IRTSPStreamParserUser* user)
        : m_rtpChannel(rtpChannel), m_user(user) {}
    virtual ~CRTSPStreamParser() = default;

    void ProcessData(const uint8_t* data, size_t length);

    size_t PendingBytes() const { return m_pending.size(); }

private:
    void Deliver(uint8_t channel, const uint8_t* payload, size_t length);
    void DeliverRtcp(const uint8_t* payload, size_t length);

    uint8_t m_rtpChannel;
    IRTSPStreamParserUser* m_user;
    std::vector<uint8_t> m_pending;
};

}  // namespace zentavo
