// RTCP wire format (RFC 3550 section 6): walking a compound datagram, the
// sender report fields a receiver answers with, and the packets this
// receiver sends (one-block receiver report, SDES with its CNAME, BYE
// without reason).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/RTCPStatistics.h"

namespace zentavo {

const uint8_t RTCP_TYPE_SR = 200;
const uint8_t RTCP_TYPE_RR = 201;
const uint8_t RTCP_TYPE_SDES = 202;
const uint8_t RTCP_TYPE_BYE = 203;

const size_t RTCP_RR_SIZE = 32;
const size_t RTCP_BYE_SIZE = 8;
// Header, sender SSRC and the 20 bytes of sender info.
const size_t RTCP_SR_MIN_SIZE = 28;

// What a receiver keeps of a sender report; byte arrays as received.
struct RTCP_SENDER_REPORT {
    uint8_t versionBits;    // byte 0 AND 0xC0
    uint8_t senderSsrc[4];
    uint8_t lastSr[4];      // middle 32 bits of the NTP timestamp
};

class IRTCPPacketVisitor {
public:
    virtual ~IRTCPPacketVisitor() = default;
    virtual void OnSenderReport(const RTCP_SENDER_REPORT& report) = 0;
    virtual void OnBye() = 0;
};

// Visits, in order, every packet of a compound datagram that lies wholly
// inside it; a packet that reaches past the end ends the walk. Sender
// reports too short for their sender info are skipped. The version bits are
// not examined. Returns the number of whole packets walked.
size_t WalkRTCPCompound(const uint8_t* data, size_t length, IRTCPPacketVisitor& visitor);

// The fields of one sender report packet (header included); false when it
// is too short for its sender info.
bool ReadRTCPSenderReport(const uint8_t* packet, size_t length, RTCP_SENDER_REPORT& report);

struct RTCP_RECEIVER_REPORT_FIELDS {
    uint8_t versionBits;
    uint8_t ownSsrc[4];
    uint8_t sourceSsrc[4];
    RTCP_RECEPTION_REPORT reception;
    uint8_t lastSr[4];
    uint32_t delaySinceLastSr;  // 1/65536 s
};

std::array<uint8_t, RTCP_RR_SIZE> BuildReceiverReport(const RTCP_RECEIVER_REPORT_FIELDS& fields);
// One SDES chunk for ownSsrc carrying only its CNAME, ended and padded to
// a word; a CNAME beyond the item's 255 octets is cut there.
std::vector<uint8_t> BuildSdesCname(uint8_t versionBits, const uint8_t ownSsrc[4], const std::string& cname);
std::array<uint8_t, RTCP_BYE_SIZE> BuildBye(uint8_t versionBits, const uint8_t ownSsrc[4]);

// Delay since the last SR in 1/65536 s from two readings of a millisecond
// clock that may wrap; 0 when no SR arrival is recorded (arrival 0).
uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t srArrivalMs);

// Network byte order, as every RTCP field is sent.
inline void PutU32(uint8_t* out, uint32_t v) {
    out[0] = uint8_t(v >> 24);
    out[1] = uint8_t(v >> 16);
    out[2] = uint8_t(v >> 8);
    out[3] = uint8_t(v);
}

}  // namespace zentavo
