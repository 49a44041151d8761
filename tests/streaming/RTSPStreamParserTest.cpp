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
    void OnRTSPReply(const std::string& text) override { replies.push_back(text); }
    void OnRTCPSenderReport(const RTCP_SENDER_REPORT& r) override { senders.push_back(r.senderSsrc[3]); }
    std::vector<uint16_t> sequences;
    std::vector<uint8_t> senders;
    std::vector<std::string> replies;
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

TEST(RTSPStreamParser, SenderReportsOnTheRtcpChannelAreHandedOn) {
    Recorder user;
    CRTSPStreamParser parser(4, 5, &user);
    const auto sr = [](uint8_t ssrc, uint8_t words) {
        Bytes b = {0x80, 200, 0, words, 0, 0, 0, ssrc};
        b.resize(size_t(words + 1) * 4, 0);
        return b;
    };
    // Whole and in a compound; too short for its sender info; cut off by
    // the frame; on the RTP channel.
    const Bytes whole = sr(4, 6);
    const Bytes stream = Cat({Frame(5, sr(1, 6)), Frame(5, Cat({RECEIVER_REPORT, sr(2, 6)})), Frame(5, sr(3, 1)),
                              Frame(5, Bytes(whole.begin(), whole.begin() + 20)), Frame(4, sr(5, 6))});
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(user.senders, (std::vector<uint8_t>{1, 2}));
}

TEST(RTSPStreamParser, MalformedAndEmptyFramesAreIgnored) {
    Recorder user;
    CRTSPStreamParser parser(0, &user);
    const Bytes stream = Cat({Frame(0, {}), Frame(0, {1, 2, 3}), Frame(0, Rtp(4))});
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(user.sequences, std::vector<uint16_t>{4});
    // A frame announced longer than what came is kept, and bounded by 64 KiB.
    const Bytes head = {'$', 0, 0xFF, 0xFF, 0x80, 2};
    parser.ProcessData(head.data(), head.size());
    EXPECT_EQ(parser.PendingBytes(), head.size());
    parser.ProcessData(nullptr, 0);
    EXPECT_EQ(parser.PendingBytes(), head.size());
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(RTSPStreamParser, AnswersBetweenFramesGarbageAndForeignChannels) {
    const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 6\r\nSession: 1\r\n\r\n";
    const std::string withBody = "RTSP/1.0 200 OK\r\nCSeq: 7\r\ncontent-length: 4\r\n\r\n$\x04" "ab";
    Bytes big = Rtp(9);
    big.resize(65535, 0x55);
    const struct {
        const char* name;
        Bytes stream;
        std::vector<uint16_t> sequences;
        std::vector<std::string> replies;
        int byes;
    } rows[] = {
        {"answer between frames", Cat({Frame(4, Rtp(1)), Text(ok), Frame(4, Rtp(2))}), {1, 2}, {ok}, 0},
        {"answer whose body holds a $", Cat({Text(withBody), Frame(4, Rtp(3))}), {3}, {withBody}, 0},
        {"garbage before and between", Cat({Text("\x01\x02RTX$"), Frame(4, Rtp(4)), Text("zz"), Frame(4, Rtp(5))}),
         {4, 5}, {}, 0},
        {"foreign channel holding our channel's bytes", Cat({Frame(0, Frame(4, Rtp(66))), Frame(4, Rtp(6))}), {6}, {}, 0},
        {"RTCP on the granted channel, not rtp + 1", Cat({Frame(5, BYE), Frame(9, BYE), Frame(4, Rtp(7))}), {7}, {}, 1},
        {"a $ in garbage announcing a long frame of ours", Cat({Bytes{'$', 4, 0xFF, 0x00, 0x12}, Frame(4, Rtp(8))}), {8}, {}, 0},
        {"largest frame", Cat({Frame(4, big), Frame(4, Rtp(10))}), {9, 10}, {}, 0},
        {"SDES without END then RTP", Cat({Frame(9, {0x81, 202, 0, 1, 1, 2, 3, 4}), Frame(4, Rtp(11))}), {11}, {}, 0},
    };
    for (const auto& row : rows) {
        for (size_t cut : {size_t(0), size_t(3), row.stream.size() / 2}) {
            Recorder user;
            CRTSPStreamParser parser(4, 9, &user);
            parser.ProcessData(row.stream.data(), cut);
            parser.ProcessData(row.stream.data() + cut, row.stream.size() - cut);
            EXPECT_EQ(user.sequences, row.sequences) << row.name << " cut " << cut;
            EXPECT_EQ(user.replies, row.replies) << row.name << " cut " << cut;
            EXPECT_EQ(user.byes, row.byes) << row.name << " cut " << cut;
        }
    }
}

TEST(RTSPStreamParser, NoUserDeliversNothing) {
    CRTSPStreamParser parser(0, nullptr);
    const Bytes stream = Frame(0, Rtp(1));
    parser.ProcessData(stream.data(), stream.size());
    EXPECT_EQ(parser.PendingBytes(), 0u);
}

}  // namespace
