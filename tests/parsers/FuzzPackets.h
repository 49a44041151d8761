// Drives a depacketizer from fuzz input: the first two records are the
// decoder set-up data (parameter sets or configuration), every further
// record one RTP packet whose flags choose the marker bit, the sequence step
// (next, gap, repeat, back), whether the bytes are a whole datagram and
// whether the timestamp moves on without a marker bit.
#pragma once

#include <vector>

#include "parsers/FuzzHost.h"
#include "parsers/RTPMediaParser.h"
#include "streaming/RTPPacket.h"

namespace halvencap_fuzz {

inline void RunDepacketizer(zentavo::CRTPMediaParser& parser, const uint8_t* data, size_t size) {
    RecordReader records(data, size);
    uint8_t flags;
    const uint8_t* bytes;
    size_t length;
    std::vector<uint8_t> first, second;
    if (records.Next(flags, bytes, length)) first.assign(bytes, bytes + length);
    if (records.Next(flags, bytes, length)) second.assign(bytes, bytes + length);
    parser.SetParameterSets(first, second, first);

    uint16_t sequence = 0xFFF0;
    uint32_t timestamp = 1000;
    std::vector<uint8_t> datagram;
    while (records.Next(flags, bytes, length)) {
        static const int steps[4] = {1, 2, 0, -1};
        sequence = static_cast<uint16_t>(sequence + steps[(flags >> 1) & 3]);
        zentavo::CRTPPacket packet;
        if (flags & 0x08) {
            if (!packet.Parse(static_cast<uint32_t>(length), bytes)) continue;
        } else {
            const bool marker = flags & 1;
            if (marker || (flags & 0x10)) timestamp += 3600;
            datagram.assign({0x80, uint8_t((marker ? 0x80 : 0) | 96), uint8_t(sequence >> 8), uint8_t(sequence),
                             uint8_t(timestamp >> 24), uint8_t(timestamp >> 16), uint8_t(timestamp >> 8),
                             uint8_t(timestamp), 1, 2, 3, 4});
            datagram.insert(datagram.end(), bytes, bytes + length);
            if (!packet.Parse(static_cast<uint32_t>(datagram.size()), datagram.data())) continue;
        }
        parser.ProcessPacket(packet);
    }
}

}  // namespace halvencap_fuzz
