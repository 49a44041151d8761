#include <gtest/gtest.h>

#include <vector>

#include "runtime/BitReader.h"
#include "runtime/ByteReader.h"

using zentavo::CBitReader;
using zentavo::CByteReader;

namespace {

TEST(ByteReader, ShortReadFailsAndStaysFailed) {
    const uint8_t data[] = {0x12, 0x34, 0x56};
    CByteReader r(data, sizeof data);
    EXPECT_EQ(r.ReadU16BE(), 0x1234);
    EXPECT_EQ(r.ReadU16BE(), 0);  // one byte left
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_EQ(r.ReadU8(), 0);  // failed readers read as empty
    EXPECT_EQ(r.PeekAt(0), 0);

    CByteReader s(data, sizeof data);
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_FALSE(s.ReadBytes(out, 4));
    EXPECT_EQ(out[0], 9);  // nothing copied
    EXPECT_FALSE(CByteReader(nullptr, 10).Has(1));
    EXPECT_FALSE(CByteReader(data, 3).Skip(4));
}

TEST(ByteReader, Find) {
    const uint8_t data[] = {0, 0, 1, 0xB6, 0, 0, 0, 1, 0xB6};
    const uint8_t vop[] = {0, 0, 1, 0xB6};
    CByteReader r(data, sizeof data);
    EXPECT_EQ(r.Find(vop, 4, 0), 0u);
    EXPECT_EQ(r.Find(vop, 4, 1), 5u);
    EXPECT_EQ(r.Find(vop, 4, 6), CByteReader::npos);
    EXPECT_EQ(r.Find(vop, 4, 100), CByteReader::npos);
    EXPECT_EQ(r.Find(vop, 0, 0), CByteReader::npos);
}

TEST(BitReader, ExpGolombAndOverrun) {
    // 1 | 010 | 011 | 00100 | 00101 | 0001000 -> ue 0, 1, 2, 3, 4, 7
    const uint8_t codes[] = {0xA6, 0x42, 0x88, 0x80};
    CBitReader r(codes, sizeof codes);
    const uint32_t expected[] = {0, 1, 2, 3, 4, 7};
    for (uint32_t e : expected) EXPECT_EQ(r.ReadUE(), e);
    EXPECT_FALSE(r.Overrun());

    const uint8_t se[] = {0x4C};  // 010 011 -> se +1, -1
    CBitReader s(se, 1);
    EXPECT_EQ(s.ReadSE(), 1);
    EXPECT_EQ(s.ReadSE(), -1);

    const uint8_t zeros[8] = {};
    CBitReader z(zeros, sizeof zeros);
    z.ReadUE();  // 64 zero bits: not a valid code
    EXPECT_TRUE(z.Overrun());

    const uint8_t one[] = {0xFF};
    CBitReader o(one, 1);
    EXPECT_EQ(o.ReadBits(8), 0xFFu);
    EXPECT_EQ(o.ReadBit(), 1u);  // beyond the end reads as 1 ...
    EXPECT_TRUE(o.Overrun());    // ... and is remembered
}

TEST(BitReader, SkipsEmulationPreventionBytes) {
    const uint8_t escaped[] = {0x00, 0x00, 0x03, 0x01, 0xFF, 0x00, 0x00, 0x03};
    CBitReader raw(escaped, sizeof escaped, true);
    EXPECT_EQ(raw.ReadBits(24), 0x000001u);
    EXPECT_EQ(raw.ReadBits(8), 0xFFu);
    EXPECT_EQ(raw.ReadBits(16), 0u);
    EXPECT_TRUE(raw.AtEnd());  // the trailing 03 is escaping, not data
    CBitReader plain(escaped, sizeof escaped, false);
    EXPECT_EQ(plain.ReadBits(24), 0x000003u);
}

}  // namespace
