#include "streaming/RTPReceiver.h"

#include <cstdio>
#include <new>
#include <utility>

#include "streaming/UDPClient.h"

namespace zentavo {

namespace {
const unsigned IDLE_WAIT_MS = 1000;
const unsigned STOP_MS = 2000;

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t TicksPerSecond() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}
}  // namespace

CRTPReceiver::CRTPReceiver(IDebugMessage* driver)
    : CBaseThread(driver),
      m_user(nullptr),
      m_queue(DEFAULT_MAX_QUEUED_PACKETS, DEFAULT_MAX_QUEUED_BYTES),
      m_peakBytes(0),
      m_received(0),
      m_consumerWaiting(false),
      m_heldPackets(0),
      m_haveTimestamp(false),
      m_lastMarker(false),
      m_lastTimestamp(0),
      m_lastWakeTicks(0),
      m_deliveringArrival(0),
      m_dataEvent(false),
      m_stopping(false) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

bool CRTPReceiver::Start(uint16_t port) {
    m_stopping = false;
    m_portTaken = false;
    CUDPClient* client = new (std::nothrow) CUDPClient(m_driver);
    if (client == nullptr) return false;
    try {
        m_client = client;
    } catch (const std::bad_alloc&) {
        delete client;  // the shared pointer could not take it
        return false;
    }
    const bool opened = m_client->Open(this, port);
    m_portTaken = !opened && client->PortTaken();
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

uint64_t CRTPReceiver::ReceivedPackets() {
    CLockGuard guard(m_lock);
    return m_received;
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
    m_heldPackets = 0;
    m_haveTimestamp = false;
    m_lastMarker = false;
}

void CRTPReceiver::OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) {
    if (client == nullptr || client != m_client.Get() || Stopping()) return;
    const int64_t arrival = Ticks();
    std::unique_ptr<RTP_QUEUE_ENTRY> entry(new RTP_QUEUE_ENTRY);
    entry->from = from;
    entry->arrivalTicks = arrival;
    if (!entry->packet.Parse(length, data)) return;
    const size_t bytes = EntryBytes(*entry);
    const bool marker = entry->packet.Marker() != 0;
    const uint32_t timestamp = entry->packet.Timestamp();
    bool wake = false;
    {
        CLockGuard guard(m_lock);
        // Checked again under the lock, so nothing slips in after Stop
        // emptied the queue.
        if (Stopping()) return;
        m_queue.Push(std::move(entry), bytes);
        ++m_received;
        if (m_queue.Bytes() > m_peakBytes) m_peakBytes = m_queue.Bytes();
        // A new timestamp after a marker was announced by that marker.
        const bool unannouncedPicture = !m_haveTimestamp || (timestamp != m_lastTimestamp && !m_lastMarker);
        m_haveTimestamp = true;
        m_lastTimestamp = timestamp;
        m_lastMarker = marker;
        if (m_consumerWaiting) {
            ++m_heldPackets;
            wake = marker || unannouncedPicture || m_heldPackets >= BATCH_PACKETS ||
                   double(arrival - m_lastWakeTicks) >= HOLD_SECONDS * double(TicksPerSecond());
            if (wake) {
                m_consumerWaiting = false;
                m_heldPackets = 0;
                m_lastWakeTicks = arrival;
            }
        }
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

std::unique_ptr<RTP_QUEUE_ENTRY> CRTPReceiver::Take(bool sleepIfEmpty) {
    CLockGuard guard(m_lock);
    std::unique_ptr<RTP_QUEUE_ENTRY> entry = m_queue.Pop();
    if (!entry && sleepIfEmpty) {
        m_consumerWaiting = true;
        m_heldPackets = 0;
    }
    return entry;
}

void CRTPReceiver::Run() {
    CEvent* const events[2] = {&m_stopEvent, &m_dataEvent};
    while (!Stopping()) {
        std::unique_ptr<RTP_QUEUE_ENTRY> entry = Take(true);
        if (!entry) {
            // Held packets that no wake-up announced are taken at the
            // latest after this wait.
            if (WaitAny(events, 2, IDLE_WAIT_MS) == 0) break;
            continue;
        }
        IRTPReceiverUser* user = m_user;
        if (user != nullptr && !Stopping()) {
            m_deliveringArrival = entry->arrivalTicks;
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
