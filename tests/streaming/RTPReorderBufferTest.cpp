#include "streaming/RTPReorderBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace zentavo;

namespace {

CRTPPacket Packet(uint16_t sequence, uint32_t ssrc = 7) {
    const uint8_t datagram[13] = {0x80, 96, uint8_t(sequence >> 8), uint8_t(sequence), 0, 0, 0, 1,
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
         {1, 3, 3, 4}, 0, 1, 1, 0},
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
