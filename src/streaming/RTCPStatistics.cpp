#include "streaming/RTCPStatistics.h"

namespace zentavo {

namespace {
const int64_t MAX_LOST = 0x7FFFFF;
const int64_t MIN_LOST = -0x800000;
// A clock step backwards would otherwise read as a jump of weeks.
const uint32_t MAX_ARRIVAL_STEP_MS = 0x80000000u;
}  // namespace

void CRTCPStatistics::Reset() {
    const uint32_t clockRate = m_clockRate;
    *this = CRTCPStatistics();
    m_clockRate = clockRate;
}

void CRTCPStatistics::Initialise(uint16_t sequence) {
    m_counting = true;
    m_maxSequence = sequence;
    m_badSequence = SEQUENCE_MOD + 1;
    m_cycles = 0;
    m_baseSequence = sequence;
    m_received = 0;
    m_expectedPrior = 0;
    m_receivedPrior = 0;
    // A new numbering usually means a new source with its own timestamps.
    m_haveTransit = false;
}

bool CRTCPStatistics::Count(uint16_t sequence) {
    if (!m_counting) Initialise(sequence);
    const uint16_t delta = static_cast<uint16_t>(sequence - m_maxSequence);
    if (delta < MAX_DROPOUT) {
        if (sequence < m_maxSequence) m_cycles += SEQUENCE_MOD;
        m_maxSequence = sequence;
    } else if (delta <= SEQUENCE_MOD - MAX_MISORDER) {
        if (sequence == m_badSequence) {
            // Two in a row after a jump: the sender restarted its numbering.
            Initialise(sequence);
        } else {
            m_badSequence = (uint32_t(sequence) + 1) & (SEQUENCE_MOD - 1);
            return false;
        }
    }
    // Otherwise a duplicate or a late packet: counted, nothing moves.
    ++m_received;
    return true;
}

void CRTCPStatistics::UpdateSequence(uint16_t sequence) { Count(sequence); }

void CRTCPStatistics::Update(uint16_t sequence, uint32_t rtpTimestamp, uint32_t arrivalMs) {
    if (!m_haveArrival) {
        m_haveArrival = true;
    } else {
        const uint32_t step = arrivalMs - m_lastArrivalMs;
        if (step < MAX_ARRIVAL_STEP_MS) m_arrivalMs += step;
    }
    m_lastArrivalMs = arrivalMs;
    if (Count(sequence)) UpdateJitter(rtpTimestamp);
}

void CRTCPStatistics::UpdateJitter(uint32_t rtpTimestamp) {
    // Arrival and RTP time in the same units; only differences matter, so
    // both may wrap.
    const uint32_t arrival = static_cast<uint32_t>(m_arrivalMs * m_clockRate / 1000);
    const uint32_t transit = arrival - rtpTimestamp;
    if (m_haveTransit) {
        const int32_t signedDelta = static_cast<int32_t>(transit - m_transit);
        const uint64_t d = signedDelta < 0 ? uint64_t(-int64_t(signedDelta)) : uint64_t(signedDelta);
        const uint64_t jitter = uint64_t(m_jitter16) + d - ((uint64_t(m_jitter16) + 8) >> 4);
        m_jitter16 = jitter > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(jitter);
    }
    m_transit = transit;
    m_haveTransit = true;
}

RTCP_RECEPTION_REPORT CRTCPStatistics::TakeReport() {
    RTCP_RECEPTION_REPORT report = {0, 0, 0, Jitter()};
    if (!m_counting) return report;
    report.extendedHighest = ExtendedHighest();

    const int64_t expected = int64_t(m_cycles) + m_maxSequence - m_baseSequence + 1;
    int64_t lost = expected - int64_t(m_received);
    if (lost > MAX_LOST) lost = MAX_LOST;
    if (lost < MIN_LOST) lost = MIN_LOST;
    report.cumulativeLost = static_cast<int32_t>(lost);

    const int64_t expectedInterval = expected - int64_t(m_expectedPrior);
    const int64_t receivedInterval = int64_t(m_received) - int64_t(m_receivedPrior);
    m_expectedPrior = static_cast<uint32_t>(expected);
    m_receivedPrior = m_received;
    const int64_t lostInterval = expectedInterval - receivedInterval;
    if (expectedInterval > 0 && lostInterval > 0) {
        const int64_t fraction = (lostInterval << 8) / expectedInterval;
        report.fractionLost = static_cast<uint8_t>(fraction > 255 ? 255 : fraction);
    }
    return report;
}

}  // namespace zentavo
