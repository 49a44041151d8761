#include "streaming/RTSPStreamParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streaming/RTPPacket.h"

using namespace zentavo;

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder : IRTSPStreamParserUser {
    void OnRTPPacket(CRTPPacket& packet) override { sequences.push_back(packet.SequenceNumber()); }
    void OnRTCPBye() override { ++byes; }
    std::vector<uint16_t> sequences;
    int byes = 0;
};

Bytes Frame(uint8_t channel, const Bytes& payload) {
    Bytes f = {'$', channel, uint8_t(payload.size() >> 8), uint8_t(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes Rtp(uint16_t seq) { return {0x80, 96, uint8_t(seq >> 8), uint8_t(seq), 0, 0, 0, 1, 1, 2, 3, 4, 0x41, 0x42}; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes RECEIVER_REPORT = {0x81, 201, 0, 7, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes BYE = {0x81, 203, 0, 1, 1, 2, 3, 4};

TEST(RTSPStreamParser, FramesSplitAcrossChunksAreDeliveredOnce) {
    const Bytes stream = Cat({Frame(0, Rtp(1)), Frame(0, Rtp(2)), Frame(0, Rtp(3))});
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Recorder user;
        CRTSPStreamParser parser(0, &user);
        parser.ProcessData(stream.data(), cut);
        parser.ProcessData(stream.data() + cut, stream.size() - cut);
        EXPECT_EQ(user.sequences, (std::vector<uint16_t>{1, 2, 3})) << "cut " << cut;
        EXPECT_EQ(parser.PendingBytes(), 0u);
    }
}

TEST(RTSPStreamParser, TextAndForeignChannelsAreSkipped) {
    const std::string reply = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 1\r\n\r\n";
    const Bytes stream = Cat({Bytes(reply.begin(), reply.end()), Frame(4, Rtp(9)), Frame(2, Rtp(7)),
                              Bytes{'$', '$'}, Frame(2, Rtp(8))});
    Recorder user;
    CRTSPStreamParser parser(2, &user);
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(user.sequences, (std::vector<uint16_t>{7, 8}));
    EXPECT_EQ(parser.PendingBytes(), 0u);
}

TEST(RTSPStreamParser, RtcpByeInCompoundPacket) {
    Recorder user;
    CRTSPStreamParser parser(0, &user);
    const Bytes stream = Cat({Frame(1, Cat({RECEIVER_REPORT, BYE})), Frame(1, RECEIVER_REPORT),
                              Frame(1, {0x41, 203, 0, 0}), Frame(1, {0x81, 203, 0, 5})});
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(user.byes, 1);
}

TEST(RTSPStreamParser, MalformedAndEmptyFramesAreIgnored) {
    Recorder user;
    CRTSPStreamParser parser(0, &user);
    const Bytes stream = Cat({Frame(0, {}), Frame(0, {1, 2, 3}), Frame(0, Rtp(4))});
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(user.sequences, std::vector<uint16_t>{4});
    // A frame announced longer than what came is kept, and bounded by 64 KiB.
    const Bytes head = {'$', 0, 0xFF, 0xFF, 1, 2};
    parser.ProcessData(head.data(), head.size());
    EXPECT_EQ(parser.PendingBytes(), head.size());
    parser.ProcessData(nullptr, 0);
    EXPECT_EQ(parser.PendingBytes(), head.size());
}

TEST(RTSPStreamParser, NoUserDeliversNothing) {
    CRTSPStreamParser parser(0, nullptr);
    const Bytes stream = Frame(0, Rtp(1));
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(parser.PendingBytes(), 0u);
}

}  // namespace
