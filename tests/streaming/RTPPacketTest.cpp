#include "streaming/RTPPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "streaming/SmartPtr.h"

using zentavo::CRTPPacket;
using zentavo::TSmartPtr;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint8_t first, uint8_t second = 0x60) {
    return {first, second, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool Parse(CRTPPacket& p, const Bytes& d) { return p.Parse(static_cast<uint32_t>(d.size()), d.data()); }

TEST(RTPPacket, FixedHeaderFields) {
    CRTPPacket p;
    ASSERT_TRUE(Parse(p, Cat(Header(0x80, 0xE0), {9, 8, 7})));
    EXPECT_EQ(p.Marker(), 1);
    EXPECT_EQ(p.PayloadType(), 0x60);
    EXPECT_EQ(p.SequenceNumber(), 0x1234);
    EXPECT_EQ(p.Timestamp(), 0xDEADBEEFu);
    const uint8_t ssrc[4] = {1, 2, 3, 4};
    uint32_t raw;
    std::memcpy(&raw, ssrc, 4);
    EXPECT_EQ(p.Ssrc(), raw);  // as received, not converted
    EXPECT_EQ(p.Padding(), 0);
    ASSERT_EQ(p.PayloadLength(), 3u);
    EXPECT_EQ(Bytes(p.Payload(), p.Payload() + 3), (Bytes{9, 8, 7}));
}

TEST(RTPPacket, AcceptanceTable) {
    const Bytes fifteenCsrcs(60, 0xCC);
    const struct {
        const char* name;
        Bytes datagram;
        bool ok;
        uint32_t payload;
    } cases[] = {
        {"header only", Header(0x80), false, 0},
        {"one payload byte", Cat(Header(0x80), {1}), true, 1},
        {"version 1", Cat(Header(0x40), {1}), false, 0},
        {"version 3", Cat(Header(0xC0), {1}), false, 0},
        {"padding 4", Cat(Header(0xA0), {1, 2, 3, 0, 0, 0, 4}), true, 3},
        {"padding to the header end", Cat(Header(0xA0), {1, 2, 3, 4}), true, 0},
        {"padding into header", Cat(Header(0xA0), {1, 2, 3, 9}), false, 0},
        {"15 CSRC with 60 bytes", Cat(Header(0x8F), fifteenCsrcs), false, 0},
        {"15 CSRC with 61 bytes", Cat(Cat(Header(0x8F), fifteenCsrcs), {7}), true, 1},
        {"extension length 0", Cat(Header(0x90), {0xBE, 0xDE, 0, 0, 5}), true, 1},
        {"extension cut", Cat(Header(0x90), {0xBE, 0xDE, 0, 2, 1, 2, 3, 4}), false, 0},
        {"extension header cut", Cat(Header(0x90), {0xBE, 0xDE, 0}), false, 0},
        {"extension exactly to end", Cat(Header(0x90), {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), true, 0},
    };
    for (const auto& c : cases) {
        CRTPPacket p;
        EXPECT_EQ(Parse(p, c.datagram), c.ok) << c.name;
        EXPECT_EQ(p.PayloadLength(), c.payload) << c.name;
    }
}

TEST(RTPPacket, CsrcAndExtensionAreKept) {
    CRTPPacket p;
    ASSERT_TRUE(Parse(p, Cat(Header(0x92), {1, 1, 1, 1, 2, 2, 2, 2, 0xBE, 0xDE, 0, 1, 9, 9, 9, 9, 0x55})));
    EXPECT_EQ(p.CsrcCount(), 2);
    EXPECT_EQ(p.CsrcList(), (Bytes{1, 1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(p.ExtensionProfile(), 0xBEDE);
    EXPECT_EQ(p.ExtensionLength(), 1);
    EXPECT_EQ(p.ExtensionData(), (Bytes{9, 9, 9, 9}));
    ASSERT_EQ(p.PayloadLength(), 1u);
    EXPECT_EQ(p.Payload()[0], 0x55);
    // A failed parse leaves nothing of the earlier packet behind.
    EXPECT_FALSE(Parse(p, Header(0x80)));
    EXPECT_EQ(p.CsrcCount(), 0);
    EXPECT_TRUE(p.ExtensionData().empty());
    EXPECT_EQ(p.Payload(), nullptr);
    EXPECT_FALSE(p.Parse(100, nullptr));
}

struct Counted {
    explicit Counted(int& d) : deletions(d) {}
    virtual ~Counted() { ++deletions; }
    int& deletions;
};

TEST(SmartPtr, SharesAndDeletesOnceWithTheLastReference) {
    int deletions = 0;
    {
        TSmartPtr<Counted> a(new Counted(deletions));
        {
            TSmartPtr<Counted> b(a);
            TSmartPtr<Counted> c;
            c = b;
            EXPECT_EQ(a.UseCount(), 3);
            EXPECT_EQ(c.Get(), a.Get());
        }
        EXPECT_EQ(deletions, 0);
        EXPECT_EQ(a.UseCount(), 1);
        a = new Counted(deletions);  // releases the first
        EXPECT_EQ(deletions, 1);
        a = static_cast<Counted*>(nullptr);
        EXPECT_EQ(deletions, 2);
        EXPECT_FALSE(a);
        a = new Counted(deletions);
        TSmartPtr<Counted>& alias = a;
        a = alias;  // self-assignment keeps it
        EXPECT_TRUE(a);
    }
    EXPECT_EQ(deletions, 3);
    // Far more holders than a one-byte counter could count.
    {
        TSmartPtr<Counted> first(new Counted(deletions));
        std::vector<TSmartPtr<Counted>> many(300, first);
        EXPECT_EQ(first.UseCount(), 301);
        many.clear();
        EXPECT_EQ(deletions, 3);
    }
    EXPECT_EQ(deletions, 4);
}

}  // namespace
