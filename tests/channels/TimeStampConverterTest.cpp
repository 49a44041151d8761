// The capture clock against hand-computed capture times, with the current
// time given by the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "channels/TimeStampConverter.h"

using zentavo::CTimeStampConverter;

namespace {

const uint64_t kStart = 134000000000000000ull;  // some day in 2025, in 100 ns units

// Feeds frames `ticks` apart that the clock sees `wall` apart and returns
// how far the capture time moved with each frame after the first.
std::vector<uint64_t> Steps(CTimeStampConverter& c, int frames, uint32_t ticks, uint64_t wall,
                            uint32_t firstTimestamp = 5000) {
    std::vector<uint64_t> steps;
    uint32_t ts = firstTimestamp;
    uint64_t now = kStart;
    c.Update(ts, now);
    uint64_t last = c.CaptureTime();
    for (int i = 1; i < frames; ++i) {
        ts += ticks;
        now += wall;
        c.Update(ts, now);
        steps.push_back(c.CaptureTime() - last);
        last = c.CaptureTime();
    }
    return steps;
}

}  // namespace

TEST(CaptureClock, NominalRateForTheFirstHundredFramesThenTheMeasuredMean) {
    CTimeStampConverter c;
    // 40 ms frames that arrive every 39.95 ms: the clock stays just ahead.
    const auto steps = Steps(c, 150, 3600, 399500);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(steps[i], 399600u) << "frame " << i + 2;
    for (size_t i = 100; i < steps.size(); ++i) ASSERT_EQ(steps[i], 399500u) << "frame " << i + 2;
    EXPECT_EQ(c.Lead(), 10000u);  // measured when calibration ended
}

TEST(CaptureClock, ACaptureTimeFarAheadGivesBackATenthOfEachStep) {
    CTimeStampConverter c;
    // Frames arrive every 30 ms but claim 40 ms: the clock runs ahead.
    const auto steps = Steps(c, 103, 3600, 300000);
    EXPECT_EQ(steps[99], 399600u);
    EXPECT_EQ(steps[100], 300000u - 30000u);
    EXPECT_EQ(steps[101], 300000u - 30000u);
    // 100 frames 9.96 ms ahead each, less two tenths given back.
    EXPECT_EQ(c.Lead(), 9960000u - 2 * 30000u);
    EXPECT_EQ(c.CaptureTime() - (kStart + 102 * 300000ull), c.Lead());
}

TEST(CaptureClock, JumpsRepeatsAndWrapsWithinCalibration) {
    struct Row {
        const char* what;
        uint32_t first;
        uint32_t second;
        uint64_t wall;      // clock advance between the two frames
        uint64_t expected;  // capture time of the second frame, from kStart
    } rows[] = {
        {"90090 ticks is still a frame step", 1000, 1000 + 90090, 1000, 90090ull * 111},
        {"90091 ticks restarts at now", 1000, 1000 + 90091, 1000, 1000},
        // 38695000 x 111 wraps in 32 bits to 177704, which looks like a
        // short step; it is a jump of seven minutes.
        {"a jump past the 32-bit product restarts", 1000, 1000 + 38695000u, 1000, 1000},
        {"the largest jump restarts", 0, 0xFFFFFFFFu, 1000, 1000},
        {"a repeated timestamp moves on by 1 ms", 1000, 1000, 1000, 10000},
        {"a repeat seen later takes now", 1000, 1000, 50000, 50000},
        {"a wrapped timestamp moves on by 1 ms", 0xFFFFFF00u, 0x100, 1000, 10000},
    };
    for (const Row& r : rows) {
        CTimeStampConverter c;
        c.Update(r.first, kStart);
        EXPECT_EQ(c.CaptureTime(), kStart) << r.what;
        c.Update(r.second, kStart + r.wall);
        EXPECT_EQ(c.CaptureTime() - kStart, r.expected) << r.what;
    }
}

TEST(CaptureClock, NeverBehindTheClockAndRestartsWithoutLosingItsStatistics) {
    CTimeStampConverter c;
    // Frames claim 40 ms but arrive every 50 ms: every capture time would
    // fall behind, so each one is now.
    uint32_t ts = 77;
    uint64_t now = kStart;
    for (int i = 0; i < 120; ++i) {
        c.Update(ts, now);
        ASSERT_EQ(c.CaptureTime(), now) << "frame " << i;
        ts += 3600;
        now += 500000;
    }
    // No clock: restart at 0, then the next frame starts over.
    c.Update(ts, 0);
    EXPECT_EQ(c.CaptureTime(), 0u);
    c.Update(ts + 3600, now);
    EXPECT_EQ(c.CaptureTime(), now);
}
