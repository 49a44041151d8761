// Receiver reports for a stream that runs inside the RTSP connection: the
// same reception statistics and reports as over UDP, but each report leaves
// as one "$"-framed compound (RR and SDES CNAME) on the RTCP channel the
// SETUP answer granted. It keeps no clock and writes nothing itself: the
// connection's thread feeds it packets with their arrival time and asks it
// for the report that is due, so the report stays out of the way of the
// requests that share the connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "streaming/RTCPPackets.h"
#include "streaming/RTCPStatistics.h"

namespace zentavo {

class CInterleavedRTCPReporter {
public:
    // Cameras end a session that hears no reports, on TCP as on UDP.
    static constexpr uint32_t REPORT_INTERVAL_MS = 5000;

    CInterleavedRTCPReporter() = default;

    // A new session: forgets everything of the last one.
    void Restart(uint8_t rtcpChannel, uint32_t ownSsrc, const std::string& cname,
                 uint32_t intervalMs = REPORT_INTERVAL_MS);

    // Every RTP packet of the stream, with its arrival on a millisecond
    // clock that may wrap.
    void OnRtpPacket(uint16_t sequence, uint32_t rtpTimestamp, uint32_t ssrc, uint32_t nowMs);
    void OnSenderReport(const RTCP_SENDER_REPORT& report, uint32_t nowMs);

    // The framed report due at nowMs (the first once a packet came, one per
    // sender report, else one per interval); empty when none is due. A
    // report taken is counted as sent: a failed write is not made up for.
    std::vector<uint8_t> TakeDueReport(uint32_t nowMs);

private:
    bool Due(uint32_t nowMs) const;

    uint8_t m_channel = 1;
    uint8_t m_ownSsrc[4] = {};
    std::string m_cname;
    uint32_t m_intervalMs = REPORT_INTERVAL_MS;
    CRTCPStatistics m_statistics;
    bool m_packetSeen = false;
    bool m_sourceKnown = false;
    uint8_t m_sourceSsrc[4] = {};
    // RTP version 2 until a sender report says otherwise.
    uint8_t m_versionBits = 0x80;
    bool m_srPending = false;
    uint8_t m_lastSr[4] = {};
    uint32_t m_srArrivalMs = 0;
    bool m_reported = false;
    uint32_t m_lastReportMs = 0;
};

// payload behind the four bytes "$", channel and its length, most
// significant byte first; empty when the payload does not fit the length.
std::vector<uint8_t> FrameInterleaved(uint8_t channel, const std::vector<uint8_t>& payload);

}  // namespace zentavo
