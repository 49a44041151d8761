// RTP datagrams and packets for the depacketizer tests.
#pragma once

#include <cstdint>
#include <vector>

#include "streaming/RTPPacket.h"

namespace halvencap_test {

inline std::vector<uint8_t> RtpDatagram(uint16_t sequence, uint32_t timestamp, bool marker,
                                        const std::vector<uint8_t>& payload, uint8_t payloadType = 96) {
    std::vector<uint8_t> d = {0x80,
                              uint8_t((marker ? 0x80 : 0) | payloadType),
                              uint8_t(sequence >> 8),
                              uint8_t(sequence),
                              uint8_t(timestamp >> 24),
                              uint8_t(timestamp >> 16),
                              uint8_t(timestamp >> 8),
                              uint8_t(timestamp),
                              0x12,
                              0x34,
                              0x56,
                              0x78};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

inline zentavo::CRTPPacket RtpPacket(uint16_t sequence, uint32_t timestamp, bool marker,
                                     const std::vector<uint8_t>& payload) {
    zentavo::CRTPPacket p;
    const auto d = RtpDatagram(sequence, timestamp, marker, payload);
    p.Parse(static_cast<uint32_t>(d.size()), d.data());
    return p;
}

}  // namespace halvencap_test
