// The capture clock against hand-computed capture times, with the current
// time given by the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
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
    // Frames arrive every 36 ms but claim 40 ms: the clock runs ahead.
    const auto steps = Steps(c, 103, 3600, 360000);
    EXPECT_EQ(steps[99], 399600u);
    EXPECT_EQ(steps[100], 360000u - 36000u);
    EXPECT_EQ(steps[101], 360000u - 36000u);
    // 100 frames 3.96 ms ahead each, less two tenths given back.
    EXPECT_EQ(c.Lead(), 3960000u - 2 * 36000u);
    EXPECT_EQ(c.CaptureTime() - (kStart + 102 * 360000ull), c.Lead());
}

TEST(CaptureClock, JumpsRepeatsAndWrapsWithinCalibration) {
    struct Row {
        const char* what;
        uint32_t first;
        uint32_t second;
        uint64_t wall;      // clock advance between the two frames
        uint64_t expected;  // capture time of the second frame, from kStart
    } rows[] = {
        {"90090 ticks is still a frame step", 1000, 1000 + 90090, 9000000, 90090ull * 111},
        {"but not further ahead of the clock than kMaxLead", 1000, 1000 + 90090, 1000,
         1000 + CTimeStampConverter::kMaxLead},
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

// What senders do to their timestamps, one row each: the capture times the
// host gets must only move forward and stay close to arrival, whatever the
// timestamps claim.
TEST(CaptureClock, SenderTimestampFaultsKeepCaptureTimesMonotonicAndCloseToArrival) {
    struct Event {
        int frame;
        int64_t tickOffset;  // added to this frame's timestamp only, or (permanent) to all from here
        bool permanent;
    };
    const struct {
        const char* name;
        uint32_t ticks;  // timestamp step per frame
        uint64_t wall;   // arrival step per frame
        std::vector<Event> events;
        uint32_t first;
    } rows[] = {
        {"steady 25 frames/s", 3600, 400000, {}, 5000},
        {"one frame hours ahead while calibrating", 3600, 400000, {{50, 90000LL * 3600 * 3, false}}, 5000},
        {"one frame hours ahead after calibrating", 3600, 400000, {{150, 90000LL * 3600 * 3, false}}, 5000},
        {"one frame hours behind", 3600, 400000, {{150, -90000LL * 3600 * 2, false}}, 900000000},
        {"a loop steps back a second, twice", 3600, 400000, {{120, -90000, true}, {240, -90000, true}}, 5000},
        {"claims 25 frames/s, arrives at 50", 3600, 200000, {}, 5000},
        {"claims 25 frames/s, arrives at 10", 3600, 1000000, {}, 5000},
        {"claims 5 frames/s, arrives at 30", 18000, 333333, {}, 5000},
        {"a stall of ten seconds", 3600, 400000, {{150, 0, false}}, 5000},
        {"the 32-bit wrap", 3600, 400000, {}, 0xFFFFFFFFu - 3600 * 100},
        {"a new start a minute on", 3600, 400000, {{130, 90000LL * 60, true}}, 5000},
    };
    for (const auto& r : rows) {
        CTimeStampConverter c;
        uint64_t now = kStart;
        int64_t shift = 0;
        uint64_t previous = 0;
        for (int i = 0; i < 400; ++i) {
            int64_t offset = 0;
            for (const Event& e : r.events) {
                if (e.frame != i) continue;
                if (e.permanent) shift += e.tickOffset;
                else offset = e.tickOffset;
                if (std::string(r.name) == "a stall of ten seconds") now += 100000000;
            }
            const uint32_t ts = uint32_t(int64_t(r.first) + int64_t(i) * r.ticks + shift + offset);
            c.Update(ts, now);
            const uint64_t t = c.CaptureTime();
            ASSERT_GT(t, previous) << r.name << ", frame " << i;
            ASSERT_GE(t, now) << r.name << ", frame " << i;
            ASSERT_LE(t - now, CTimeStampConverter::kMaxLead) << r.name << ", frame " << i;
            previous = t;
            now += r.wall;
        }
        // In the end the clock is back within a frame or two of arrival.
        EXPECT_LE(previous - (now - r.wall), 2 * r.wall) << r.name;
    }
}
