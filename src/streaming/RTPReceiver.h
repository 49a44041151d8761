// Receives RTP on one local port: each datagram is parsed on the socket's
// thread and queued; the packet queue thread hands the packets to the user
// in arrival order. The queue is bounded: a user that stalls loses the
// oldest packets (counted), and the media parser's sequence check discards
// what they broke.
//
// The queue thread is woken once per picture rather than once per packet:
// waking a thread is two system calls (two Wine server round trips), and a
// depacketizer can do nothing with a packet before its picture's last one
// is there. A sleeping queue thread is woken by a packet that ends a
// picture (marker bit), one that starts a new picture when the last one
// had no marker (senders that leave it out), a batch of BATCH_PACKETS, or
// the first packet after HOLD_SECONDS without a wake-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "runtime/BaseThread.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"
#include "streaming/BoundedQueue.h"
#include "streaming/IRTPClient.h"
#include "streaming/IRTPReceiverUser.h"
#include "streaming/RTPPacket.h"
#include "streaming/SmartPtr.h"

namespace zentavo {

struct RTP_QUEUE_ENTRY {
    sockaddr_in from;
    CRTPPacket packet;
    int64_t arrivalTicks;  // QueryPerformanceCounter when the datagram was read
};

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
public:
    // About two seconds of a 4 Mbit/s stream in 1400-byte packets, whichever
    // bound comes first.
    static constexpr size_t DEFAULT_MAX_QUEUED_PACKETS = 4096;
    static constexpr size_t DEFAULT_MAX_QUEUED_BYTES = 8 * 1024 * 1024;
    static constexpr uint32_t RECEIVE_SIZE = 1536;
    static constexpr uint32_t WAIT_TIMEOUT_MS = 2000;
    static constexpr size_t BATCH_PACKETS = 64;
    static constexpr double HOLD_SECONDS = 0.25;

    explicit CRTPReceiver(IDebugMessage* driver = nullptr);
    ~CRTPReceiver() override;

    bool Start(uint16_t port);
    // The last Start failed only because the port belongs to another socket.
    bool PortTaken() const { return m_portTaken; }
    void Stop();
    void SetUser(IRTPReceiverUser* user) { m_user = user; }
    void SetQueueLimits(size_t maxPackets, size_t maxBytes);

    // Packets parsed and queued, and those of them dropped because the queue
    // was full, since construction.
    uint64_t ReceivedPackets();
    uint64_t DroppedPackets();
    size_t QueuedPackets();
    size_t QueuedBytes();
    // Largest queue size seen since construction.
    size_t PeakQueuedBytes();
    uint16_t GetPort();
    // While the user's OnRTPPacket runs: when the packet's datagram was
    // read, in QueryPerformanceCounter ticks. Valid on the queue thread only.
    int64_t DeliveringArrivalTicks() const { return m_deliveringArrival; }

    // IRTPClientUser
    void OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) override;
    void OnTimeout(IRTPClient* client) override;
    void OnClosed(IRTPClient* client) override;

    void Run() override;

private:
    static size_t EntryBytes(const RTP_QUEUE_ENTRY& entry);
    void ClearQueue();
    // The oldest entry; when there is none and sleepIfEmpty is set, the
    // next append wakes the queue thread.
    std::unique_ptr<RTP_QUEUE_ENTRY> Take(bool sleepIfEmpty);
    bool Stopping() { return m_stopping.load(std::memory_order_relaxed); }

    TSmartPtr<IRTPClient> m_client;
    IRTPReceiverUser* m_user;
    CRecursiveLock m_lock;
    TBoundedQueue<RTP_QUEUE_ENTRY> m_queue;
    size_t m_peakBytes;
    uint64_t m_received;
    // The packet queue thread is about to sleep: the next packet must wake it.
    // While it is busy, appending needs no event.
    bool m_consumerWaiting;
    // Packets queued since the queue thread went to sleep, the last
    // queued timestamp, and when the queue thread was last woken.
    size_t m_heldPackets;
    bool m_haveTimestamp;
    bool m_lastMarker;
    uint32_t m_lastTimestamp;
    int64_t m_lastWakeTicks;
    int64_t m_deliveringArrival;
    CEvent m_dataEvent;
    std::atomic<bool> m_stopping;
    bool m_portTaken = false;
};

}  // namespace zentavo
