#include "streaming/InterleavedRTCPReporter.h"

#include <cstring>

namespace zentavo {

void CInterleavedRTCPReporter::Restart(uint8_t rtcpChannel, uint32_t ownSsrc, const std::string& cname,
                                       uint32_t intervalMs) {
    *this = CInterleavedRTCPReporter();
    m_channel = rtcpChannel;
    PutU32(m_ownSsrc, ownSsrc);
    m_cname = cname;
    m_intervalMs = intervalMs != 0 ? intervalMs : REPORT_INTERVAL_MS;
}

void CInterleavedRTCPReporter::OnRtpPacket(uint16_t sequence, uint32_t rtpTimestamp, uint32_t ssrc, uint32_t nowMs) {
    m_statistics.Update(sequence, rtpTimestamp, nowMs);
    m_packetSeen = true;
    // Until a sender report names it, the source is the one the packets
    // carry; a camera that changes it midway is reported on as it began.
    if (!m_sourceKnown) {
        PutU32(m_sourceSsrc, ssrc);
        m_sourceKnown = true;
    }
}

void CInterleavedRTCPReporter::OnSenderReport(const RTCP_SENDER_REPORT& report, uint32_t nowMs) {
    m_versionBits = report.versionBits;
    std::memcpy(m_sourceSsrc, report.senderSsrc, sizeof m_sourceSsrc);
    m_sourceKnown = true;
    std::memcpy(m_lastSr, report.lastSr, sizeof m_lastSr);
    // 0 means "no sender report" to the delay field.
    m_srArrivalMs = nowMs != 0 ? nowMs : 1;
    m_srPending = true;
}

bool CInterleavedRTCPReporter::Due(uint32_t nowMs) const {
    if (m_srPending) return true;
    if (!m_packetSeen) return false;
    return !m_reported || nowMs - m_lastReportMs >= m_intervalMs;
}

std::vector<uint8_t> CInterleavedRTCPReporter::TakeDueReport(uint32_t nowMs) {
    if (!Due(nowMs)) return std::vector<uint8_t>();
    RTCP_RECEIVER_REPORT_FIELDS fields;
    fields.versionBits = m_versionBits;
    std::memcpy(fields.ownSsrc, m_ownSsrc, 4);
    std::memcpy(fields.sourceSsrc, m_sourceSsrc, 4);
    std::memcpy(fields.lastSr, m_lastSr, 4);
    fields.reception = m_statistics.TakeReport();
    fields.delaySinceLastSr = DelaySinceLastSr(nowMs, m_srArrivalMs);
    // A periodic report carries the last sender report's fields too, so it
    // answers that report: none gets two answers.
    m_srPending = false;
    m_reported = true;
    m_lastReportMs = nowMs;
    const auto rr = BuildReceiverReport(fields);
    std::vector<uint8_t> compound(rr.begin(), rr.end());
    const std::vector<uint8_t> sdes = BuildSdesCname(m_versionBits, m_ownSsrc, m_cname);
    compound.insert(compound.end(), sdes.begin(), sdes.end());
    return FrameInterleaved(m_channel, compound);
}

std::vector<uint8_t> FrameInterleaved(uint8_t channel, const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload.size() > 0xFFFF) return std::vector<uint8_t>();
    std::vector<uint8_t> frame;
    frame.reserve(4 + payload.size());
    frame.push_back('$');
    frame.push_back(channel);
    frame.push_back(uint8_t(payload.size() >> 8));
    frame.push_back(uint8_t(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace zentavo
