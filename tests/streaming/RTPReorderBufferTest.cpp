#include "streaming/RTPReorderBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace zentavo;

namespace {

CRTPPacket Packet(uint16_t sequence, uint32_t ssrc = 7, uint8_t payloadType = 96) {
    const uint8_t datagram[13] = {0x80, payloadType, uint8_t(sequence >> 8), uint8_t(sequence), 0, 0, 0, 1,
                                  uint8_t(ssrc >> 24), uint8_t(ssrc >> 16), uint8_t(ssrc >> 8), uint8_t(ssrc), 0xAB};
    CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(sizeof datagram, datagram));
    return packet;
}

struct Arrival {
    uint16_t sequence;
    uint32_t ssrc;
};

TEST(RTPReorderBuffer, HandsPacketsOnInSequenceOrderWhereItCan) {
    const uint16_t f = 0xFFFE;  // wraps after two
    const struct {
        const char* name;
        std::vector<Arrival> in;
        std::vector<uint16_t> out;
        uint64_t reordered, dropped, gapsGivenUp;
        size_t held;
    } cases[] = {
        {"in order", {{1, 7}, {2, 7}, {3, 7}}, {1, 2, 3}, 0, 0, 0, 0},
        {"neighbours swapped", {{1, 7}, {3, 7}, {2, 7}, {4, 7}}, {1, 2, 3, 4}, 1, 0, 0, 0},
        {"three late by two", {{1, 7}, {4, 7}, {5, 7}, {2, 7}, {3, 7}}, {1, 2, 3, 4, 5}, 2, 0, 0, 0},
        {"swap across the wrap", {{f, 7}, {0, 7}, {0xFFFF, 7}, {1, 7}}, {f, 0xFFFF, 0, 1}, 1, 0, 0, 0},
        {"repeat of what went on", {{1, 7}, {2, 7}, {2, 7}, {1, 7}, {3, 7}}, {1, 2, 3}, 0, 2, 0, 0},
        {"repeat of a held packet", {{1, 7}, {3, 7}, {3, 7}, {2, 7}}, {1, 2, 3}, 1, 1, 0, 0},
        {"a loss waits for the held limit, then goes on in order",
         {{1, 7}, {3, 7}, {4, 7}, {5, 7}, {6, 7}, {7, 7}, {8, 7}, {9, 7}, {10, 7}, {11, 7}},
         {1, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 8, 0, 1, 0},
        {"the lost one arriving after all is dropped",
         {{1, 7}, {3, 7}, {4, 7}, {5, 7}, {6, 7}, {7, 7}, {8, 7}, {9, 7}, {10, 7}, {11, 7}, {2, 7}},
         {1, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 8, 1, 1, 0},
        {"a loss still held", {{1, 7}, {3, 7}, {4, 7}}, {1}, 0, 0, 0, 2},
        {"a far jump is a new sequence", {{100, 7}, {5000, 7}, {5001, 7}}, {100, 5000, 5001}, 0, 0, 0, 0},
        {"a far jump back too", {{5000, 7}, {100, 7}, {101, 7}}, {5000, 100, 101}, 0, 0, 0, 0},
        {"a new SSRC twice in a row lets the held go first", {{1, 7}, {3, 7}, {2, 9}, {3, 9}, {4, 9}},
         {1, 3, 2, 3, 4}, 0, 0, 1, 0},
        {"an SSRC of its own for every key frame costs no packet",
         {{1, 7}, {2, 7}, {3, 9}, {4, 9}, {5, 9}, {6, 11}, {7, 11}}, {1, 2, 3, 4, 5, 6, 7}, 0, 0, 0, 0},
        {"a new SSRC whose first two are swapped", {{1, 7}, {4, 9}, {3, 9}, {5, 9}}, {1, 3, 4, 5}, 0, 0, 0, 0},
        {"a new SSRC restarting its numbers", {{5000, 7}, {5001, 7}, {10, 9}, {11, 9}}, {5000, 5001, 10, 11}, 0, 0, 0, 0},
        {"two of one other SSRC far apart in number are garbage", {{1, 7}, {900, 3}, {20000, 3}, {2, 7}},
         {1, 2}, 0, 2, 0, 0},
        {"a lone packet of another SSRC is garbage", {{1, 7}, {500, 3}, {2, 7}, {501, 4}, {3, 7}}, {1, 2, 3}, 0, 2, 0, 0},
        {"garbage between two of one other SSRC", {{1, 7}, {40, 3}, {2, 7}, {41, 3}, {3, 7}}, {1, 2, 3}, 0, 2, 0, 0},
    };
    for (const auto& c : cases) {
        CRTPReorderBuffer buffer;
        std::vector<uint16_t> out;
        for (const Arrival& a : c.in)
            buffer.Push(Packet(a.sequence, a.ssrc), [&](const CRTPPacket& p) { out.push_back(p.SequenceNumber()); });
        EXPECT_EQ(out, c.out) << c.name;
        EXPECT_EQ(buffer.Reordered(), c.reordered) << c.name;
        EXPECT_EQ(buffer.Dropped(), c.dropped) << c.name;
        EXPECT_EQ(buffer.GapsGivenUp(), c.gapsGivenUp) << c.name;
        EXPECT_EQ(buffer.Held(), c.held) << c.name;
    }
}

TEST(RTPReorderBuffer, KeepsToTheDeclaredPayloadTypes) {
    const struct {
        const char* name;
        std::vector<uint8_t> declared;
        std::vector<std::pair<uint16_t, uint8_t>> in;  // number, payload type
        std::vector<uint16_t> out;
        uint64_t dropped;
    } cases[] = {
        {"nothing declared takes every type", {}, {{1, 96}, {2, 107}, {3, 96}}, {1, 2, 3}, 0},
        {"undeclared types with repeated numbers are dropped first", {96},
         {{1, 96}, {1, 107}, {2, 107}, {2, 96}, {900, 0}, {3, 96}}, {1, 2, 3}, 3},
        {"an undeclared packet first does not start the sequence", {96}, {{7000, 107}, {1, 96}, {2, 96}}, {1, 2}, 1},
        {"static and several declared types", {26, 35, 96}, {{1, 35}, {2, 96}, {3, 26}, {4, 97}}, {1, 2, 3}, 1},
    };
    for (const auto& c : cases) {
        CRTPReorderBuffer buffer;
        buffer.SetPayloadTypes(c.declared);
        std::vector<uint16_t> out;
        for (const auto& a : c.in)
            buffer.Push(Packet(a.first, 7, a.second), [&](const CRTPPacket& p) { out.push_back(p.SequenceNumber()); });
        EXPECT_EQ(out, c.out) << c.name;
        EXPECT_EQ(buffer.Dropped(), c.dropped) << c.name;
    }
}

// A sender that labels everything with a type it never declared is
// mislabelling, not mixing: its stream is taken after a while.
TEST(RTPReorderBuffer, AStreamOfOnlyUndeclaredTypesGetsThrough) {
    CRTPReorderBuffer buffer;
    buffer.SetPayloadTypes({96});
    std::vector<uint16_t> out;
    for (uint16_t n = 0; n < 100; ++n)
        buffer.Push(Packet(n, 7, 97), [&](const CRTPPacket& p) { out.push_back(p.SequenceNumber()); });
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.size(), 100u - CRTPReorderBuffer::MISLABELLED_AFTER + 1);
    EXPECT_EQ(out.back(), 99);
}

TEST(RTPReorderBuffer, ClearStartsANewSequence) {
    CRTPReorderBuffer buffer;
    std::vector<uint16_t> out;
    auto deliver = [&](const CRTPPacket& p) { out.push_back(p.SequenceNumber()); };
    buffer.Push(Packet(10), deliver);
    buffer.Push(Packet(12), deliver);
    buffer.Clear();
    EXPECT_EQ(buffer.Held(), 0u);
    buffer.Push(Packet(5), deliver);  // would be late without the clear
    buffer.Push(Packet(6), deliver);
    EXPECT_EQ(out, (std::vector<uint16_t>{10, 5, 6}));
}

}  // namespace
