#include "streaming/RTCPStatistics.h"

#include <gtest/gtest.h>

#include <vector>

using zentavo::CRTCPStatistics;
using zentavo::RTCP_RECEPTION_REPORT;

namespace {

TEST(RTCPStatistics, SequenceBookkeeping) {
    const struct {
        const char* name;
        std::vector<uint16_t> sequences;
        uint16_t maxSequence;
        uint32_t cycles;
        uint32_t badSequence;
        uint32_t received;
    } cases[] = {
        {"first packet starts the count", {500}, 500, 0, 65537, 1},
        {"wrap", {65535, 0, 1}, 1, 65536, 65537, 3},
        {"gap of 2999 is a gap", {100, 3099}, 3099, 0, 65537, 2},
        {"gap of 3000 is a jump", {100, 3100}, 100, 0, 3101, 1},
        {"jump of 5000 leaves the counters", {100, 5100}, 100, 0, 5101, 1},
        {"jump then its successor re-initialises", {100, 5100, 5101}, 5101, 0, 65537, 1},
        {"re-initialising drops the cycles", {65535, 0, 5000, 5001}, 5001, 0, 65537, 1},
        {"jump then something else is another jump", {100, 5100, 9000}, 100, 0, 9001, 1},
        {"late packet counts, moves nothing", {10, 11, 12, 9}, 12, 0, 65537, 4},
        {"100 behind is a jump, not late", {1000, 900}, 1000, 0, 901, 1},
        {"99 behind is late", {1000, 901}, 1000, 0, 65537, 2},
        {"duplicate counts", {7, 7}, 7, 0, 65537, 2},
        {"late across the wrap adds no cycle", {0, 65535}, 0, 0, 65537, 2},
    };
    for (const auto& c : cases) {
        CRTCPStatistics s;
        for (uint16_t seq : c.sequences) s.UpdateSequence(seq);
        EXPECT_EQ(s.MaxSequence(), c.maxSequence) << c.name;
        EXPECT_EQ(s.Cycles(), c.cycles) << c.name;
        EXPECT_EQ(s.BadSequence(), c.badSequence) << c.name;
        EXPECT_EQ(s.Received(), c.received) << c.name;
        EXPECT_EQ(s.ExtendedHighest(), c.cycles + c.maxSequence) << c.name;
    }
}

TEST(RTCPStatistics, NothingReceivedReportsZeros) {
    CRTCPStatistics s;
    const RTCP_RECEPTION_REPORT r = s.TakeReport();
    EXPECT_EQ(r.fractionLost, 0);
    EXPECT_EQ(r.cumulativeLost, 0);
    EXPECT_EQ(r.extendedHighest, 0u);
    EXPECT_EQ(r.jitter, 0u);
}

TEST(RTCPStatistics, LossPerReportInterval) {
    CRTCPStatistics s;
    // 1..10 with 4, 7 and 8 missing: expected 10, received 7.
    for (uint16_t seq : {1, 2, 3, 5, 6, 9, 10}) s.UpdateSequence(seq);
    RTCP_RECEPTION_REPORT r = s.TakeReport();
    EXPECT_EQ(r.cumulativeLost, 3);
    EXPECT_EQ(r.fractionLost, 3 * 256 / 10);
    EXPECT_EQ(r.extendedHighest, 10u);

    // Interval 11..14 with 13 missing: 1 of 4 lost, 4 in all.
    for (uint16_t seq : {11, 12, 14}) s.UpdateSequence(seq);
    r = s.TakeReport();
    EXPECT_EQ(r.cumulativeLost, 4);
    EXPECT_EQ(r.fractionLost, 64);

    // Nothing new: nothing lost in the interval.
    r = s.TakeReport();
    EXPECT_EQ(r.cumulativeLost, 4);
    EXPECT_EQ(r.fractionLost, 0);

    // A late arrival of 13 makes up for it.
    s.UpdateSequence(13);
    r = s.TakeReport();
    EXPECT_EQ(r.cumulativeLost, 3);
    EXPECT_EQ(r.fractionLost, 0);
}

TEST(RTCPStatistics, DuplicatesMakeLossNegative) {
    CRTCPStatistics s;
    for (uint16_t seq : {1, 1, 1, 2}) s.UpdateSequence(seq);
    EXPECT_EQ(s.TakeReport().cumulativeLost, -2);
}

TEST(RTCPStatistics, LossCountsAcrossTheWrap) {
    CRTCPStatistics s;
    for (uint16_t seq : {65534, 65535, 2, 3}) s.UpdateSequence(seq);  // 0 and 1 lost
    const RTCP_RECEPTION_REPORT r = s.TakeReport();
    EXPECT_EQ(r.extendedHighest, 65536u + 3);
    EXPECT_EQ(r.cumulativeLost, 2);
    EXPECT_EQ(r.fractionLost, 2 * 256 / 6);
}

TEST(RTCPStatistics, JitterAndLossWithGapsAndJitteredArrivals) {
    // 25 frames/s at 90 kHz (3600 ticks per 40 ms), arriving at 0, 40, 85,
    // 120, 160 and 210 ms; sequence 4 missing. Transit in ticks: 0, 0, 450,
    // 0, 0, 900, so |D| = 0, 450, 450, 0, 900 and jitter x 16 runs
    // 0, 450, 872, 817, 1666: jitter 104 (exact: 104.1).
    const uint32_t arrivals[] = {0, 40, 85, 120, 160, 210};
    const uint16_t sequences[] = {1, 2, 3, 5, 6, 7};
    // Also across the wrap of the millisecond clock.
    for (uint32_t base : {1000u, 0xFFFFFFE0u}) {
        CRTCPStatistics s;
        for (int i = 0; i < 6; ++i) s.Update(sequences[i], 0x7FFFF000u + 3600u * i, base + arrivals[i]);
        const RTCP_RECEPTION_REPORT r = s.TakeReport();
        EXPECT_EQ(r.jitter, 104u) << base;
        EXPECT_EQ(r.cumulativeLost, 1) << base;
        EXPECT_EQ(r.fractionLost, 256 / 7) << base;
        EXPECT_EQ(r.extendedHighest, 7u) << base;
    }
}

TEST(RTCPStatistics, SteadyStreamHasNoJitterAndClockRateMatters) {
    CRTCPStatistics s;
    s.SetClockRate(8000);  // 8 ticks per ms
    for (uint16_t i = 0; i < 50; ++i) s.Update(i, 160u * i, 20u * i);
    EXPECT_EQ(s.TakeReport().jitter, 0u);
    s.Reset();
    EXPECT_FALSE(s.Counting());
    // Every second packet 10 ms late: |D| = 80 ticks from the second on.
    for (uint16_t i = 0; i < 400; ++i) s.Update(i, 160u * i, 20u * i + (i % 2 ? 10 : 0));
    EXPECT_NEAR(double(s.TakeReport().jitter), 80.0, 1.0);
}

}  // namespace
