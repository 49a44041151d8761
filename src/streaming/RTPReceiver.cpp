#include "streaming/RTPReceiver.h"

#include <cstdio>
#include <utility>

#include "streaming/UDPClient.h"

namespace zentavo {

namespace {
const unsigned IDLE_WAIT_MS = 1000;
const unsigned STOP_MS = 2000;
}  // namespace

CRTPReceiver::CRTPReceiver(IDriver* driver)
    : CBaseThread(driver),
      m_user(nullptr),
      m_queue(DEFAULT_MAX_QUEUED_PACKETS, DEFAULT_MAX_QUEUED_BYTES),
      m_peakBytes(0),
      m_consumerWaiting(false),
      m_dataEvent(false),
      m_stopping(false) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) {
    m_stopping = false;
    m_client = new CUDPClient(m_driver);
    const bool opened = m_client->Open(this, port);
    m_client->SetReceiveSize(RECEIVE_SIZE);
    m_client->SetWaitTimeout(WAIT_TIMEOUT_MS);
    if (opened) {
        ClearQueue();
        char name[64];
        std::snprintf(name, sizeof name, "RTP Packet Queue (%hu)", port);
        if (StartThread(name)) return true;
    }
    Stop();
    return false;
}

void CRTPReceiver::Stop() {
    m_stopping = true;
    m_stopEvent.Set();
    if (m_client) {
        m_client->Close();
        m_client.Release();
    }
    ClearQueue();
    StopThread(STOP_MS);
}

void CRTPReceiver::SetQueueLimits(size_t maxPackets, size_t maxBytes) {
    CLockGuard guard(m_lock);
    m_queue.SetLimits(maxPackets, maxBytes);
}

uint64_t CRTPReceiver::DroppedPackets() {
    CLockGuard guard(m_lock);
    return m_queue.Dropped();
}

size_t CRTPReceiver::QueuedPackets() {
    CLockGuard guard(m_lock);
    return m_queue.Count();
}

size_t CRTPReceiver::QueuedBytes() {
    CLockGuard guard(m_lock);
    return m_queue.Bytes();
}

size_t CRTPReceiver::PeakQueuedBytes() {
    CLockGuard guard(m_lock);
    return m_peakBytes;
}

uint16_t CRTPReceiver::GetPort() { return m_client ? m_client->GetPort() : 0; }

size_t CRTPReceiver::EntryBytes(const RTP_QUEUE_ENTRY& entry) {
    const CRTPPacket& p = entry.packet;
    return sizeof entry + p.PayloadLength() + p.CsrcList().size() + p.ExtensionData().size();
}

void CRTPReceiver::ClearQueue() {
    CLockGuard guard(m_lock);
    m_queue.Clear();
}

void CRTPReceiver::OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) {
    if (client == nullptr || client != m_client.Get() || Stopping()) return;
    std::unique_ptr<RTP_QUEUE_ENTRY> entry(new RTP_QUEUE_ENTRY);
    entry->from = from;
    if (!entry->packet.Parse(length, data)) return;
    const size_t bytes = EntryBytes(*entry);
    bool wake;
    {
        CLockGuard guard(m_lock);
        // Checked again under the lock, so nothing slips in after Stop
        // emptied the queue.
        if (Stopping()) return;
        m_queue.Push(std::move(entry), bytes);
        if (m_queue.Bytes() > m_peakBytes) m_peakBytes = m_queue.Bytes();
        wake = m_consumerWaiting;
        m_consumerWaiting = false;
    }
    if (wake) m_dataEvent.Set();
}

void CRTPReceiver::OnTimeout(IRTPClient* client) {
    IRTPReceiverUser* user = m_user;
    if (client != nullptr && client == m_client.Get() && user != nullptr) user->OnTimeout();
}

void CRTPReceiver::OnClosed(IRTPClient* client) {
    IRTPReceiverUser* user = m_user;
    if (client != nullptr && client == m_client.Get() && user != nullptr) user->OnClosed();
}

void CRTPReceiver::Run() {
    CEvent* const events[2] = {&m_stopEvent, &m_dataEvent};
    while (!Stopping()) {
        std::unique_ptr<RTP_QUEUE_ENTRY> entry;
        {
            CLockGuard guard(m_lock);
            entry = m_queue.Pop();
            if (!entry) m_consumerWaiting = true;
        }
        if (!entry) {
            if (WaitAny(events, 2, IDLE_WAIT_MS) == 0) break;
            continue;
        }
        IRTPReceiverUser* user = m_user;
        if (user != nullptr && !Stopping()) {
            try {
                user->OnRTPPacket(entry->from, entry->packet);
            } catch (...) {
                // A packet the user could not take must not end delivery.
            }
        }
    }
    ClearQueue();
}

}  // namespace zentavo
