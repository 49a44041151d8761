// One datagram as a camera's compound RTCP, walked as the RTCP handler walks
// it; the same bytes as a run of RTP sequence numbers, timestamps and
// arrival times for the reception statistics; the answer built from both.
#include <cstddef>
#include <cstdint>

#include "parsers/FuzzHost.h"
#include "streaming/RTCPPackets.h"
#include "streaming/RTCPStatistics.h"

namespace {

class CCounter : public zentavo::IRTCPPacketVisitor {
public:
    void OnSenderReport(const zentavo::RTCP_SENDER_REPORT& report) override {
        ++visited;
        last = report;
    }
    void OnBye() override { ++visited; }
    size_t visited = 0;
    zentavo::RTCP_SENDER_REPORT last = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using halvencap_fuzz::Require;
    CCounter counter;
    const size_t walked = zentavo::WalkRTCPCompound(data, size, counter);
    Require(walked * 4 <= size, "walked more packets than the datagram holds");
    Require(counter.visited <= walked, "visited a packet that was not walked");

    zentavo::CRTCPStatistics stats;
    uint32_t arrival = 0;
    for (size_t i = 0; i + 4 <= size; i += 4) {
        const uint16_t sequence = uint16_t((data[i] << 8) | data[i + 1]);
        const uint32_t timestamp = uint32_t(data[i + 2]) << 24 | uint32_t(data[i + 3]) << 8;
        arrival += data[i + 2];
        stats.Update(sequence, timestamp, arrival);
        if (data[i + 3] == 0xFF) stats.TakeReport();
    }
    zentavo::RTCP_RECEIVER_REPORT_FIELDS fields = {};
    fields.versionBits = counter.last.versionBits;
    fields.reception = stats.TakeReport();
    Require(fields.reception.cumulativeLost >= -0x800000 && fields.reception.cumulativeLost <= 0x7FFFFF,
            "cumulative loss outside 24 bits");
    fields.delaySinceLastSr = zentavo::DelaySinceLastSr(arrival, size ? data[0] : 0);
    const auto rr = zentavo::BuildReceiverReport(fields);
    Require(rr[1] == zentavo::RTCP_TYPE_RR && rr[3] == 7, "receiver report header");
    return 0;
}
