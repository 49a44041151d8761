// Cuts the byte stream of an RTSP connection in interleaved mode into its
// parts: "$"-framed RTP and RTCP on the channels the SETUP answer granted,
// and RTSP answers (keep-alive replies) that may stand at any frame
// boundary. Anything else - frames of other channels, garbage, a "$" that
// does not start a plausible frame - is skipped until the stream makes
// sense again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/RTCPPackets.h"

namespace zentavo {

class CRTPPacket;

class IRTSPStreamParserUser {
public:
    virtual ~IRTSPStreamParserUser() = default;
    // The packet lives only for the call.
    virtual void OnRTPPacket(CRTPPacket& packet) = 0;
    virtual void OnRTCPBye() = 0;
    // A sender report on the RTCP channel, for the receiver report that
    // answers it.
    virtual void OnRTCPSenderReport(const RTCP_SENDER_REPORT& /*report*/) {}
    // One whole RTSP answer (head and body) found between frames.
    virtual void OnRTSPReply(const std::string& /*text*/) {}
};

class CRTSPStreamParser {
public:
    // Longest RTSP answer head looked for between frames.
    static constexpr size_t MAX_REPLY_HEAD = 8192;
    static constexpr size_t MAX_REPLY_BODY = 65536;

    CRTSPStreamParser(uint8_t rtpChannel, IRTSPStreamParserUser* user)
        : CRTSPStreamParser(rtpChannel, uint8_t(rtpChannel + 1), user) {}
    CRTSPStreamParser(uint8_t rtpChannel, uint8_t rtcpChannel, IRTSPStreamParserUser* user)
        : m_rtpChannel(rtpChannel), m_rtcpChannel(rtcpChannel), m_user(user) {}
    virtual ~CRTSPStreamParser() = default;

    void ProcessData(const uint8_t* data, size_t length);

    size_t PendingBytes() const { return m_pending.size(); }
    // Bytes dropped while looking for the next frame or answer.
    uint64_t SkippedBytes() const { return m_skipped; }

private:
    enum Step { STEP_CONSUMED, STEP_SKIP_ONE, STEP_NEED_MORE };

    Step TryFrame(size_t at, size_t& next);
    Step TryReply(size_t at, size_t& next);
    void Deliver(uint8_t channel, const uint8_t* payload, size_t length);
    void DeliverRtcp(const uint8_t* payload, size_t length);

    uint8_t m_rtpChannel;
    uint8_t m_rtcpChannel;
    IRTSPStreamParserUser* m_user;
    std::vector<uint8_t> m_pending;
    uint64_t m_skipped = 0;
    // The last step consumed a whole frame or answer: the next byte starts
    // the next one.
    bool m_inSync = true;
};

}  // namespace zentavo
