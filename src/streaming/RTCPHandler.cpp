#include "streaming/RTCPHandler.h"

#include <mmsystem.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zentavo {

namespace {
const unsigned REPORT_WAIT_MS = 10000;
const unsigned STOP_MS = 5000;
}  // namespace

class CRTCPHandler::CPacketVisitor : public IRTCPPacketVisitor {
public:
    CPacketVisitor(CRTCPHandler& handler, const sockaddr_in& from) : m_handler(handler), m_from(from) {}
    void OnSenderReport(const RTCP_SENDER_REPORT& report) override { m_handler.OnSenderReport(m_from, report); }
    void OnBye() override { m_handler.OnBye(); }

private:
    CRTCPHandler& m_handler;
    const sockaddr_in& m_from;
};

CRTCPHandler::CRTCPHandler(IDebugMessage* driver)
    : CBaseThread(driver),
      m_client(driver),
      m_sourceAddress(0),
      m_user(nullptr),
      m_peerKnown(false),
      m_peerHinted(false),
      m_packetSeen(false),
      m_reported(false),
      m_lastReportMs(0),
      m_reportIntervalMs(REPORT_INTERVAL_MS),
      m_srEvent(false),
      m_wakeEvent(false),
      m_peer(),
      m_srArrivalMs(0),
      m_versionBits(0),
      m_datagramsSeen(0) {
    std::memset(m_ownSsrc, 0, sizeof m_ownSsrc);
    std::memset(m_sourceSsrc, 0, sizeof m_sourceSsrc);
    std::memset(m_lastSr, 0, sizeof m_lastSr);
    m_client.SetReceiveSize(RECEIVE_SIZE);
    m_client.SetWaitTimeout(WAIT_TIMEOUT_MS);
}

CRTCPHandler::~CRTCPHandler() { Stop(); }

void CRTCPHandler::MakeOwnSsrc() {
    GUID guid = {};
    uint32_t ssrc = 0;
    const GUID zero = {};
    if (CoCreateGuid(&guid) == S_OK && std::memcmp(&guid, &zero, sizeof guid) != 0) {
        ssrc = guid.Data1;
    } else {
        std::srand(static_cast<unsigned>(_time64(nullptr)));
        ssrc = static_cast<uint32_t>(std::rand());
    }
    m_ownSsrc[0] = uint8_t(ssrc >> 24);
    m_ownSsrc[1] = uint8_t(ssrc >> 16);
    m_ownSsrc[2] = uint8_t(ssrc >> 8);
    m_ownSsrc[3] = uint8_t(ssrc);
}

void CRTCPHandler::Reset() {
    m_srEvent.Reset();
    m_wakeEvent.Reset();
    CLockGuard guard(m_lock);
    m_peerKnown = false;
    m_peerHinted = false;
    m_packetSeen = false;
    m_reported = false;
    m_lastReportMs = 0;
    MakeOwnSsrc();
    m_srArrivalMs = 0;
    // RTP version 2 until a sender report says otherwise.
    m_versionBits = 0x80;
    m_peer = sockaddr_in();
    m_statistics.Reset();
    std::memset(m_sourceSsrc, 0, sizeof m_sourceSsrc);
    std::memset(m_lastSr, 0, sizeof m_lastSr);
}

bool CRTCPHandler::Start(uint32_t sourceAddress, uint16_t port) {
    if (m_client.IsOpen() || sourceAddress == 0) return false;
    Reset();
    {
        // Set before the socket opens, so that a sender report arriving at
        // once is not refused.
        CLockGuard guard(m_lock);
        m_sourceAddress = sourceAddress;
    }
    if (!m_client.Open(this, port)) {
        CLockGuard guard(m_lock);
        m_sourceAddress = 0;
        return false;
    }
    m_client.SetWaitTimeout(WAIT_TIMEOUT_MS);
    // Without its thread no receiver report would ever answer the camera.
    if (!StartThread("RTCP Handler Thread")) {
        m_client.Close();
        CLockGuard guard(m_lock);
        m_sourceAddress = 0;
        return false;
    }
    return true;
}

void CRTCPHandler::Stop() {
    m_stopEvent.Set();
    uint8_t versionBits;
    uint8_t ownSsrc[4];
    bool peerKnown;
    {
        CLockGuard guard(m_lock);
        peerKnown = m_peerKnown;
        versionBits = m_versionBits;
        std::memcpy(ownSsrc, m_ownSsrc, sizeof ownSsrc);
    }
    if (peerKnown) {
        const auto bye = BuildBye(versionBits, ownSsrc);
        SendToPeer(bye.data(), uint32_t(bye.size()));
    }
    {
        CLockGuard guard(m_lock);
        m_peerKnown = false;
    }
    m_client.Close();
    StopThread(STOP_MS);
    CLockGuard guard(m_lock);
    m_sourceAddress = 0;
}

void CRTCPHandler::SetClockRate(uint32_t hz) {
    CLockGuard guard(m_lock);
    m_statistics.SetClockRate(hz);
}

void CRTCPHandler::SetPeerHint(uint32_t address, uint16_t port) {
    if (address == 0 || port == 0) return;
    {
        CLockGuard guard(m_lock);
        // A peer a sender report named is the one the camera listens on.
        if (m_sourceAddress == 0 || (m_peerKnown && !m_peerHinted)) return;
        m_peer = sockaddr_in();
        m_peer.sin_family = AF_INET;
        m_peer.sin_addr.s_addr = address;
        m_peer.sin_port = htons(port);
        m_peerKnown = true;
        m_peerHinted = true;
    }
    m_wakeEvent.Set();
}

void CRTCPHandler::UpdateSequence(uint16_t sequence, uint32_t rtpTimestamp) {
    const uint32_t arrival = timeGetTime();
    CLockGuard guard(m_lock);
    m_statistics.Update(sequence, rtpTimestamp, arrival);
    NoteFirstPacket();
}

void CRTCPHandler::UpdateSequence(uint16_t sequence) {
    CLockGuard guard(m_lock);
    m_statistics.UpdateSequence(sequence);
    NoteFirstPacket();
}

void CRTCPHandler::NoteSourceSsrc(uint32_t ssrc) {
    CLockGuard guard(m_lock);
    static const uint8_t none[4] = {0, 0, 0, 0};
    if (std::memcmp(m_sourceSsrc, none, sizeof none) != 0) return;
    // Taken for a number, the value would come out byte-swapped on this
    // little-endian machine and name another source: the bytes go out as
    // they came.
    std::memcpy(m_sourceSsrc, &ssrc, sizeof m_sourceSsrc);
}

void CRTCPHandler::NoteFirstPacket() {
    if (m_packetSeen) return;
    m_packetSeen = true;
    m_wakeEvent.Set();
}

bool CRTCPHandler::IsPeerKnown() {
    CLockGuard guard(m_lock);
    return m_peerKnown;
}

uint32_t CRTCPHandler::GetOwnSsrc() {
    CLockGuard guard(m_lock);
    return (uint32_t(m_ownSsrc[0]) << 24) | (uint32_t(m_ownSsrc[1]) << 16) | (uint32_t(m_ownSsrc[2]) << 8) |
           m_ownSsrc[3];
}

void CRTCPHandler::OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) {
    bool fromSource;
    {
        CLockGuard guard(m_lock);
        fromSource = m_sourceAddress != 0 && from.sin_addr.s_addr == m_sourceAddress;
    }
    if (fromSource) {
        CPacketVisitor visitor(*this, from);
        WalkRTCPCompound(data, length, visitor);
    }
    ++m_datagramsSeen;
}

void CRTCPHandler::OnSenderReport(const sockaddr_in& from, const RTCP_SENDER_REPORT& report) {
    {
        CLockGuard guard(m_lock);
        if (!m_peerKnown || m_peerHinted) {
            m_peer = from;
            m_peerKnown = true;
            m_peerHinted = false;
        }
        m_versionBits = report.versionBits;
        std::memcpy(m_sourceSsrc, report.senderSsrc, sizeof m_sourceSsrc);
        std::memcpy(m_lastSr, report.lastSr, sizeof m_lastSr);
        m_srArrivalMs = timeGetTime();
        // Set under the lock: a report that takes this sender report's
        // fields clears the event with them, so one report answers it.
        m_srEvent.Set();
    }
}

void CRTCPHandler::OnBye() {
    {
        CLockGuard guard(m_lock);
        if (!m_peerKnown) return;
        m_peerKnown = false;
        m_peerHinted = false;
    }
    IRTCPHandlerUser* user = m_user;
    if (user == nullptr) return;
    try {
        user->OnRTCPBye();
    } catch (...) {
    }
}

void CRTCPHandler::SendReceiverReport() {
    RTCP_RECEIVER_REPORT_FIELDS fields;
    {
        CLockGuard guard(m_lock);
        if (!m_peerKnown) return;
        fields.versionBits = m_versionBits;
        std::memcpy(fields.ownSsrc, m_ownSsrc, 4);
        std::memcpy(fields.sourceSsrc, m_sourceSsrc, 4);
        std::memcpy(fields.lastSr, m_lastSr, 4);
        fields.reception = m_statistics.TakeReport();
        const uint32_t now = timeGetTime();
        fields.delaySinceLastSr = DelaySinceLastSr(now, m_srArrivalMs);
        m_srEvent.Reset();
        m_reported = true;
        m_lastReportMs = now;
    }
    const auto rr = BuildReceiverReport(fields);
    SendToPeer(rr.data(), uint32_t(rr.size()));
}

void CRTCPHandler::SendToPeer(const uint8_t* data, uint32_t length) {
    sockaddr_in peer;
    {
        CLockGuard guard(m_lock);
        if (!m_peerKnown || length == 0) return;
        peer = m_peer;
    }
    if (!m_client.Send(length, peer, data)) {
        CLockGuard guard(m_lock);
        m_peerKnown = false;
    }
}

unsigned CRTCPHandler::UntilNextReportMs() {
    const uint32_t interval = m_reportIntervalMs.load();
    CLockGuard guard(m_lock);
    if (!m_peerKnown || !m_packetSeen) return REPORT_WAIT_MS;
    if (!m_reported) return 0;
    const uint32_t elapsed = timeGetTime() - m_lastReportMs;
    return elapsed >= interval ? 0 : interval - elapsed;
}

void CRTCPHandler::Run() {
    CEvent* const events[3] = {&m_stopEvent, &m_srEvent, &m_wakeEvent};
    while (!m_stopEvent.Wait(0)) {
        const unsigned wait = UntilNextReportMs();
        const unsigned which = wait == 0 ? WAIT_ANY_NONE : WaitAny(events, 3, wait);
        if (which == 0) break;
        if (which == 1) {
            SendReceiverReport();
        } else if (UntilNextReportMs() == 0) {
            SendReceiverReport();
        }
    }
}

}  // namespace zentavo
