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
// The buffer keeps to one SSRC. A packet of another is held aside, and the
// sender counts as changed when the next packet comes from that SSRC too,
// with a number close to it: then both go on, the first of them first. Some
// senders change their SSRC at every key frame, and the first packet of the
// new one is where the key frame starts. A datagram of garbage that happens
// to parse as RTP carries a random SSRC and number each time and is
// followed by the stream's own packets, so it is dropped and never gets its
// bytes into a picture.
//
// Senders also mix in packets of payload types the session description
// never declared (with sequence numbers of their own, often repeating the
// stream's). Once told the declared types, the buffer drops the others
// before they can disturb the sequence. A sender that labels its whole
// stream with an undeclared type still gets through: after
// MISLABELLED_AFTER such packets in a row with no declared one ever seen,
// the labels are not trusted.
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
    static constexpr uint32_t MISLABELLED_AFTER = 64;

    // The payload types the session description declared for the stream;
    // none means every type is taken.
    void SetPayloadTypes(const std::vector<uint8_t>& types);

    // Hands the packet, and any held ones it lets go, to deliver(const CRTPPacket&).
    template <class Deliver>
    void Push(const CRTPPacket& packet, Deliver&& deliver);
    // Forgets everything: the next packet starts a sequence.
    void Clear();

    size_t Held() const { return m_held.size(); }
    // A packet of another SSRC waiting to show whether the sender changed.
    size_t Waiting() const { return m_haveCandidate ? 1 : 0; }
    // Packets that arrived out of order and went on in order; packets
    // dropped as late, repeated, of a foreign SSRC or of an undeclared
    // payload type; gaps given up as lost.
    uint64_t Reordered() const { return m_reordered; }
    uint64_t Dropped() const { return m_dropped; }
    uint64_t GapsGivenUp() const { return m_gapsGivenUp; }

private:
    int Distance(const CRTPPacket& packet) const { return int16_t(uint16_t(packet.SequenceNumber() - m_expected)); }
    bool IsHeld(uint16_t sequenceNumber) const;
    bool Declared(uint8_t payloadType);
    // The sequence logic, within the SSRC the buffer keeps to.
    template <class Deliver>
    void Order(const CRTPPacket& packet, Deliver& deliver);
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
    // The last packet, from another SSRC.
    bool m_haveCandidate = false;
    CRTPPacket m_candidate;
    bool m_filterTypes = false;
    uint64_t m_declared[2] = {0, 0};
    bool m_sawDeclared = false;
    uint32_t m_undeclaredRun = 0;
    std::vector<CRTPPacket> m_held;
    uint64_t m_reordered = 0;
    uint64_t m_dropped = 0;
    uint64_t m_gapsGivenUp = 0;
};

template <class Deliver>
void CRTPReorderBuffer::Push(const CRTPPacket& packet, Deliver&& deliver) {
    if (!Declared(packet.PayloadType())) {
        ++m_dropped;
        return;
    }
    if (m_started && packet.Ssrc() != m_ssrc) {
        if (m_haveCandidate && m_candidate.Ssrc() == packet.Ssrc()) {
            const int step = int16_t(uint16_t(packet.SequenceNumber() - m_candidate.SequenceNumber()));
            if (step != 0 && step <= int(MAX_HELD) && step >= -int(MAX_HELD)) {
                // The sender changed: a new sequence from the lower of the two.
                const CRTPPacket candidate = std::move(m_candidate);
                m_haveCandidate = false;
                m_started = false;
                Order(step > 0 ? candidate : packet, deliver);
                Order(step > 0 ? packet : candidate, deliver);
                return;
            }
        }
        if (m_haveCandidate) ++m_dropped;
        m_candidate = packet;
        m_haveCandidate = true;
        return;
    }
    if (m_haveCandidate) {
        ++m_dropped;
        m_haveCandidate = false;
    }
    Order(packet, deliver);
}

template <class Deliver>
void CRTPReorderBuffer::Order(const CRTPPacket& packet, Deliver& deliver) {
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
