// Packet numbers as a sender or a network might mix them, through the
// reorder buffer: every packet goes on at most once, none is lost without
// being counted, the buffer stays within its bound, and what goes on within
// one SSRC never steps back.
#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>

#include "parsers/FuzzHost.h"
#include "streaming/RTPReorderBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using halvencap_fuzz::Require;
    zentavo::CRTPReorderBuffer buffer;
    if (size % 2) buffer.SetPayloadTypes({96});
    size_t pushed = 0, delivered = 0;
    bool haveLast = false;
    uint32_t lastSsrc = 0;
    uint16_t lastSequence = 0;
    for (size_t i = 0; i + 3 <= size; i += 3) {
        const uint16_t sequence = uint16_t(data[i] << 8 | data[i + 1]);
        const uint32_t ssrc = data[i + 2] & 1;
        const uint8_t payloadType = (data[i + 2] & 2) ? 97 : 96;
        const uint8_t datagram[13] = {0x80, payloadType, uint8_t(sequence >> 8), uint8_t(sequence), 0, 0, 0, 0,
                                      0, 0, 0, uint8_t(ssrc), 0};
        zentavo::CRTPPacket packet;
        Require(packet.Parse(sizeof datagram, datagram), "test packet parses");
        ++pushed;
        buffer.Push(packet, [&](const zentavo::CRTPPacket& p) {
            ++delivered;
            if (haveLast && p.Ssrc() == lastSsrc) {
                const int step = int16_t(uint16_t(p.SequenceNumber() - lastSequence));
                // Forward within a sequence, or a jump back the buffer took for a
                // new one (measured from the number it expected, one past the last).
                Require(step > 0 || step - 1 <= -zentavo::CRTPReorderBuffer::WINDOW, "delivery stepped back");
            }
            haveLast = true;
            lastSsrc = p.Ssrc();
            lastSequence = p.SequenceNumber();
        });
        Require(buffer.Held() <= zentavo::CRTPReorderBuffer::MAX_HELD, "held beyond the bound");
        Require(delivered + buffer.Held() + buffer.Waiting() + buffer.Dropped() == pushed,
                "a packet went missing or twice");
    }
    return 0;
}
