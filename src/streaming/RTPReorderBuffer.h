// Puts the packets of one RTP stream back into sequence order before a
// depacketizer sees them. Networks swap neighbouring packets now and then;
// handed on as they come, one swap would cost the video up to the next key
// frame, since a depacketizer must treat any gap as a loss.
//
// Packets in order pass straight through. One that runs ahead of a missing
// number is held until the missing one comes; after MAX_HELD held packets
// the missing one counts as lost and the held ones go on in order (the
// depacketizer then sees the gap). A packet behind what has gone on (late
// beyond hope, or a repeat) is dropped. A jump of WINDOW numbers or more
// either way is a new sequence (a sender restart), not a reorder: what is
// held goes on, then the new packet.
//
// The buffer keeps to one SSRC. A packet of another is dropped, unless the
// one before it came from that SSRC too: a sender that really changed its
// SSRC sends nothing else from then on, while a datagram of garbage that
// happens to parse as RTP carries a random one each time and would
// otherwise get its bytes into a picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "streaming/RTPPacket.h"

namespace zentavo {

class CRTPReorderBuffer {
public:
    static constexpr size_t MAX_HELD = 8;
    static constexpr int WINDOW = 512;

    // Hands the packet, and any held ones it lets go, to deliver(const CRTPPacket&).
    template <class Deliver>
    void Push(const CRTPPacket& packet, Deliver&& deliver);
    // Forgets everything: the next packet starts a sequence.
    void Clear();

    size_t Held() const { return m_held.size(); }
    // Packets that arrived out of order and went on in order; packets
    // dropped as late, repeated or of a foreign SSRC; gaps given up as lost.
    uint64_t Reordered() const { return m_reordered; }
    uint64_t Dropped() const { return m_dropped; }
    uint64_t GapsGivenUp() const { return m_gapsGivenUp; }

private:
    int Distance(const CRTPPacket& packet) const { return int16_t(uint16_t(packet.SequenceNumber() - m_expected)); }
    bool IsHeld(uint16_t sequenceNumber) const;
    // Index of the held packet with the lowest number; the buffer is not empty.
    size_t Lowest() const;

    template <class Deliver>
    void Release(const CRTPPacket& packet, Deliver& deliver) {
        m_expected = uint16_t(packet.SequenceNumber() + 1);
        deliver(packet);
    }
    // Lets go of held packets that now follow on without a gap.
    template <class Deliver>
    void ReleaseFollowing(Deliver& deliver);
    // Gives up on the missing number: the lowest held packet goes on.
    template <class Deliver>
    void GiveUpGap(Deliver& deliver);

    bool m_started = false;
    uint16_t m_expected = 0;
    uint32_t m_ssrc = 0;
    // The last packet came from this other SSRC.
    bool m_haveCandidate = false;
    uint32_t m_candidateSsrc = 0;
    std::vector<CRTPPacket> m_held;
    uint64_t m_reordered = 0;
    uint64_t m_dropped = 0;
    uint64_t m_gapsGivenUp = 0;
};

template <class Deliver>
void CRTPReorderBuffer::Push(const CRTPPacket& packet, Deliver&& deliver) {
    if (m_started && packet.Ssrc() != m_ssrc) {
        const bool secondInARow = m_haveCandidate && m_candidateSsrc == packet.Ssrc();
        m_haveCandidate = !secondInARow;
        m_candidateSsrc = packet.Ssrc();
        if (!secondInARow) {
            ++m_dropped;
            return;
        }
        m_started = false;  // the sender changed: a new sequence
    }
    m_haveCandidate = false;
    if (!m_started) {
        while (!m_held.empty()) GiveUpGap(deliver);
        m_started = true;
        m_ssrc = packet.Ssrc();
        Release(packet, deliver);
        return;
    }
    const int distance = Distance(packet);
    if (distance == 0) {
        Release(packet, deliver);
        ReleaseFollowing(deliver);
        return;
    }
    if (distance < 0 && distance > -WINDOW) {
        ++m_dropped;
        return;
    }
    if (distance > 0 && distance < WINDOW) {
        if (IsHeld(packet.SequenceNumber())) {
            ++m_dropped;
            return;
        }
        m_held.push_back(packet);
        if (m_held.size() > MAX_HELD) GiveUpGap(deliver);
        return;
    }
    while (!m_held.empty()) GiveUpGap(deliver);
    Release(packet, deliver);
}

template <class Deliver>
void CRTPReorderBuffer::ReleaseFollowing(Deliver& deliver) {
    for (bool found = true; found && !m_held.empty();) {
        found = false;
        for (size_t i = 0; i < m_held.size(); ++i) {
            if (m_held[i].SequenceNumber() != m_expected) continue;
            const CRTPPacket next = std::move(m_held[i]);
            m_held.erase(m_held.begin() + std::ptrdiff_t(i));
            ++m_reordered;
            Release(next, deliver);
            found = true;
            break;
        }
    }
}

template <class Deliver>
void CRTPReorderBuffer::GiveUpGap(Deliver& deliver) {
    const size_t lowest = Lowest();
    const CRTPPacket next = std::move(m_held[lowest]);
    m_held.erase(m_held.begin() + std::ptrdiff_t(lowest));
    ++m_gapsGivenUp;
    Release(next, deliver);
    ReleaseFollowing(deliver);
}

}  // namespace zentavo
