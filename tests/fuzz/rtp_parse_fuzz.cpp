// One datagram into an RTP packet; the parsed parts must lie inside it.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "streaming/RTPPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using halvencap_fuzz::Require;
    zentavo::CRTPPacket packet;
    if (packet.Parse(static_cast<uint32_t>(size), data)) {
        const size_t parts = 12 + packet.CsrcList().size() + (packet.ExtensionData().size() +
                             ((data[0] & 0x10) ? 4 : 0)) + packet.PayloadLength();
        Require(parts <= size, "packet parts exceed the datagram");
        Require(packet.CsrcList().size() == size_t(packet.CsrcCount()) * 4, "CSRC list size");
        Require(packet.ExtensionData().size() == size_t(packet.ExtensionLength()) * 4, "extension size");
        unsigned sum = 0;
        for (uint32_t i = 0; i < packet.PayloadLength(); ++i) sum += packet.Payload()[i];
        (void)sum;
    } else {
        Require(packet.PayloadLength() == 0 && packet.Payload() == nullptr, "failed parse keeps a payload");
    }
    return 0;
}
