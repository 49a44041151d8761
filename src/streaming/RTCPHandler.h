// The receiving side of RTCP for one RTP stream: listens on the RTCP port,
// takes the camera's address from its first sender report (or, before one
// arrives, from the port the SETUP answer named), answers each sender report
// with one receiver report built from the reception statistics, reports
// again at an interval once the stream flows, and says goodbye at stop to the
// camera's RTCP port when it knows one.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/BaseThread.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"
#include "streaming/IRTCPHandlerUser.h"
#include "streaming/IRTPClient.h"
#include "streaming/RTCPPackets.h"
#include "streaming/RTCPStatistics.h"
#include "streaming/UDPClient.h"

namespace zentavo {

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
public:
    static constexpr uint32_t RECEIVE_SIZE = 1536;
    static constexpr uint32_t WAIT_TIMEOUT_MS = 1000;
    // Cameras that hear nothing over RTCP end a UDP session within 10 to
    // 60 s, whether or not they send sender reports themselves.
    static constexpr uint32_t REPORT_INTERVAL_MS = 5000;

    explicit CRTCPHandler(IDebugMessage* driver = nullptr);
    ~CRTCPHandler() override;

    // sourceAddress: the camera's IPv4 address in network order; RTCP from
    // any other address is ignored.
    bool Start(uint32_t sourceAddress, uint16_t port);
    void Stop();
    void SetUser(IRTCPHandlerUser* user) { m_user = user; }
    void SetClockRate(uint32_t hz);
    // Where to report until a sender report names another port: the
    // camera's RTCP address as the SETUP answer gave it (address in network
    // order). Reports go there from the first RTP packet on. Call after
    // Start; a zero address or port is no hint.
    void SetPeerHint(uint32_t address, uint16_t port);
    void SetReportInterval(uint32_t ms) { m_reportIntervalMs = ms != 0 ? ms : REPORT_INTERVAL_MS; }

    // For every RTP packet of the stream, as it arrives.
    void UpdateSequence(uint16_t sequence, uint32_t rtpTimestamp);
    // Sequence bookkeeping without a timestamp: no contribution to jitter.
    void UpdateSequence(uint16_t sequence);
    // The stream's SSRC from its RTP packets, as CRTPPacket::Ssrc keeps it
    // (the four bytes in the order received): reports sent before the
    // camera's first sender report name the source they are about.
    void NoteSourceSsrc(uint32_t ssrc);

    bool IsPeerKnown();
    // The last Start failed only because the port belongs to another socket.
    bool PortTaken() const { return m_client.PortTaken(); }
    uint16_t GetPort() { return m_client.GetPort(); }
    // The own SSRC as sent, most significant byte first.
    uint32_t GetOwnSsrc();
    // Datagrams read and dealt with since construction, from any sender.
    uint32_t DatagramsSeen() const { return m_datagramsSeen.load(); }

    // IRTPClientUser
    void OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) override;
    void OnTimeout(IRTPClient* client) override {}
    void OnClosed(IRTPClient* client) override {}

    void Run() override;

private:
    class CPacketVisitor;

    void Reset();
    void MakeOwnSsrc();
    void OnSenderReport(const sockaddr_in& from, const RTCP_SENDER_REPORT& report);
    void OnBye();
    void SendReceiverReport();
    void NoteFirstPacket();
    // How long the thread may wait before a periodic report is due.
    unsigned UntilNextReportMs();
    void SendToPeer(const uint8_t* data, uint32_t length);

    CUDPClient m_client;
    uint32_t m_sourceAddress;
    IRTCPHandlerUser* m_user;
    bool m_peerKnown;
    // The peer came from the SETUP answer: a sender report may move it.
    bool m_peerHinted;
    bool m_packetSeen;
    bool m_reported;
    uint32_t m_lastReportMs;
    std::atomic<uint32_t> m_reportIntervalMs;
    CEvent m_srEvent;
    // The first packet or a hint may make a report due at once.
    CEvent m_wakeEvent;
    CRecursiveLock m_lock;
    sockaddr_in m_peer;
    uint32_t m_srArrivalMs;
    uint8_t m_versionBits;
    CRTCPStatistics m_statistics;
    uint8_t m_ownSsrc[4];
    uint8_t m_sourceSsrc[4];
    uint8_t m_lastSr[4];
    std::atomic<uint32_t> m_datagramsSeen;
};

}  // namespace zentavo
