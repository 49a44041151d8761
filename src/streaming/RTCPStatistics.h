// Reception statistics of one RTP stream as a receiver report states them
// (RFC 3550 A.1, A.3, A.8): extended highest sequence number, cumulative and
// interval loss, interarrival jitter. The sequence bookkeeping has no
// probation: the first packet starts the count.
#pragma once

#include <cstdint>

namespace zentavo {

// One report block's reception fields, ready to be written.
struct RTCP_RECEPTION_REPORT {
    uint8_t fractionLost;      // lost in the interval since the last report, x 256
    int32_t cumulativeLost;    // clamped to the signed 24-bit range
    uint32_t extendedHighest;  // cycles + highest sequence number
    uint32_t jitter;           // in RTP timestamp units
};

class CRTCPStatistics {
public:
    static constexpr uint32_t MAX_DROPOUT = 3000;
    static constexpr uint32_t MAX_MISORDER = 100;
    static constexpr uint32_t SEQUENCE_MOD = 65536;
    static constexpr uint32_t DEFAULT_CLOCK_RATE = 90000;  // every video payload this driver takes

    CRTCPStatistics() = default;

    void Reset();
    void SetClockRate(uint32_t hz) { m_clockRate = hz ? hz : DEFAULT_CLOCK_RATE; }

    // One received packet: its sequence number, its RTP timestamp and the
    // time it arrived on a millisecond clock that may wrap.
    void Update(uint16_t sequence, uint32_t rtpTimestamp, uint32_t arrivalMs);
    // Sequence only, for callers that have no timestamp; jitter stays put.
    void UpdateSequence(uint16_t sequence);

    // The fields of the next report; starts the next loss interval.
    RTCP_RECEPTION_REPORT TakeReport();

    bool Counting() const { return m_counting; }
    uint16_t MaxSequence() const { return m_maxSequence; }
    uint32_t Cycles() const { return m_cycles; }
    uint32_t BadSequence() const { return m_badSequence; }
    uint32_t Received() const { return m_received; }
    uint32_t ExtendedHighest() const { return m_cycles + m_maxSequence; }
    uint32_t Jitter() const { return m_jitter16 >> 4; }

private:
    void Initialise(uint16_t sequence);
    // True when the packet counts as received (not the first of a jump).
    bool Count(uint16_t sequence);
    void UpdateJitter(uint32_t rtpTimestamp);

    uint32_t m_clockRate = DEFAULT_CLOCK_RATE;
    bool m_counting = false;
    uint16_t m_maxSequence = 0;
    uint32_t m_cycles = 0;
    uint32_t m_badSequence = 0;
    uint32_t m_baseSequence = 0;
    uint32_t m_received = 0;
    uint32_t m_expectedPrior = 0;
    uint32_t m_receivedPrior = 0;

    // Arrival clock: milliseconds since the first packet, unwrapped.
    bool m_haveArrival = false;
    uint32_t m_lastArrivalMs = 0;
    uint64_t m_arrivalMs = 0;
    bool m_haveTransit = false;
    uint32_t m_transit = 0;
    uint32_t m_jitter16 = 0;  // jitter x 16, as A.8 keeps it
};

}  // namespace zentavo
