#include "streaming/RTCPPackets.h"

#include <cstring>

#include "runtime/ByteReader.h"

namespace zentavo {

bool ReadRTCPSenderReport(const uint8_t* packet, size_t length, RTCP_SENDER_REPORT& report) {
    CByteReader in(packet, length);
    if (!in.Has(RTCP_SR_MIN_SIZE)) return false;
    report.versionBits = in.ReadU8() & 0xC0;
    in.Skip(3);
    in.ReadBytes(report.senderSsrc, 4);
    in.Skip(2);  // NTP seconds, high half
    in.ReadBytes(report.lastSr, 4);
    return in.Ok();
}

size_t WalkRTCPCompound(const uint8_t* data, size_t length, IRTCPPacketVisitor& visitor) {
    CByteReader in(data, length);
    size_t walked = 0;
    while (in.Has(4)) {
        const size_t start = in.Position();
        in.Skip(1);
        const uint8_t type = in.ReadU8();
        const size_t size = (size_t(in.ReadU16BE()) + 1) * 4;
        if (!in.Seek(start) || !in.Has(size)) break;
        const uint8_t* packet = in.Current();
        in.Skip(size);
        ++walked;
        if (type == RTCP_TYPE_SR) {
            RTCP_SENDER_REPORT report;
            if (ReadRTCPSenderReport(packet, size, report)) visitor.OnSenderReport(report);
        } else if (type == RTCP_TYPE_BYE) {
            visitor.OnBye();
        }
    }
    return walked;
}

std::array<uint8_t, RTCP_RR_SIZE> BuildReceiverReport(const RTCP_RECEIVER_REPORT_FIELDS& f) {
    std::array<uint8_t, RTCP_RR_SIZE> rr{};
    rr[0] = uint8_t(f.versionBits | 1);  // one report block
    rr[1] = RTCP_TYPE_RR;
    rr[2] = 0;
    rr[3] = RTCP_RR_SIZE / 4 - 1;
    std::memcpy(&rr[4], f.ownSsrc, 4);
    std::memcpy(&rr[8], f.sourceSsrc, 4);
    rr[12] = f.reception.fractionLost;
    const uint32_t lost = static_cast<uint32_t>(f.reception.cumulativeLost) & 0xFFFFFF;
    rr[13] = uint8_t(lost >> 16);
    rr[14] = uint8_t(lost >> 8);
    rr[15] = uint8_t(lost);
    PutU32(&rr[16], f.reception.extendedHighest);
    PutU32(&rr[20], f.reception.jitter);
    std::memcpy(&rr[24], f.lastSr, 4);
    PutU32(&rr[28], f.delaySinceLastSr);
    return rr;
}

std::vector<uint8_t> BuildSdesCname(uint8_t versionBits, const uint8_t ownSsrc[4], const std::string& cname) {
    const size_t textLength = cname.size() < 255 ? cname.size() : 255;
    // Header, SSRC, the CNAME item, and at least one zero octet that ends
    // the item list and pads the chunk to a word.
    const size_t unpadded = 4 + 4 + 2 + textLength + 1;
    const size_t size = (unpadded + 3) / 4 * 4;
    std::vector<uint8_t> sdes(size, 0);
    sdes[0] = uint8_t(versionBits | 1);  // one chunk
    sdes[1] = RTCP_TYPE_SDES;
    sdes[2] = uint8_t((size / 4 - 1) >> 8);
    sdes[3] = uint8_t(size / 4 - 1);
    std::memcpy(&sdes[4], ownSsrc, 4);
    sdes[8] = 1;  // CNAME
    sdes[9] = uint8_t(textLength);
    std::memcpy(&sdes[10], cname.data(), textLength);
    return sdes;
}

std::array<uint8_t, RTCP_BYE_SIZE> BuildBye(uint8_t versionBits, const uint8_t ownSsrc[4]) {
    std::array<uint8_t, RTCP_BYE_SIZE> bye{};
    bye[0] = uint8_t(versionBits | 1);  // one source
    bye[1] = RTCP_TYPE_BYE;
    bye[2] = 0;
    bye[3] = RTCP_BYE_SIZE / 4 - 1;
    std::memcpy(&bye[4], ownSsrc, 4);
    return bye;
}

uint32_t DelaySinceLastSr(uint32_t nowMs, uint32_t srArrivalMs) {
    if (srArrivalMs == 0) return 0;
    const uint64_t units = uint64_t(nowMs - srArrivalMs) * 65536 / 1000;
    // Beyond the field's 18 hours the largest value says more than a wrap.
    return units > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(units);
}

}  // namespace zentavo
