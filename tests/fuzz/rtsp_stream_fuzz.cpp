// Interleaved RTSP stream parser over chunks of a TCP stream.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "streaming/RTPPacket.h"
#include "streaming/RTSPStreamParser.h"

namespace {
struct User : zentavo::IRTSPStreamParserUser {
    void OnRTPPacket(zentavo::CRTPPacket& packet) override { sum += packet.PayloadLength(); }
    void OnRTCPBye() override { ++byes; }
    size_t sum = 0;
    size_t byes = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvencap_fuzz;
    if (size < 1) return 0;
    User user;
    zentavo::CRTSPStreamParser parser(data[0] & 0x0F, &user);
    RecordReader records(data + 1, size - 1);
    uint8_t flags;
    const uint8_t* bytes;
    size_t length;
    while (records.Next(flags, bytes, length)) {
        parser.ProcessData(bytes, length);
        // Only an incomplete frame (at most its 4-byte header and 65535
        // bytes) may stay pending.
        Require(parser.PendingBytes() <= 4 + 65535, "pending bytes beyond one frame");
    }
    return 0;
}
