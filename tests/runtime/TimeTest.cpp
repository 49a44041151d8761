#include <gtest/gtest.h>

#include "runtime/Time.h"

using namespace zentavo;

namespace {

const uint64_t kTicksPerMs = 10000;
const uint64_t kUnixEpoch = 116444736000000000ull;

TEST(Time, ElapsedOfFutureStampIsZero) {
    EXPECT_EQ(ElapsedMs(CurrentTimeStamp() + 3600 * 1000 * kTicksPerMs), 0u);
    CTime time;
    time.Set(CurrentTimeStamp() + 60 * 1000 * kTicksPerMs);
    EXPECT_EQ(time.ElapsedMs(), 0u);
}

TEST(Time, ElapsedOfPastStampInMilliseconds) {
    CTime time;
    time.Set(CurrentTimeStamp() - 5000 * kTicksPerMs);
    const uint32_t elapsed = time.ElapsedMs();
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 5000u + 60000u);
    time.Restart();
    EXPECT_LT(time.ElapsedMs(), 60000u);
}

TEST(Time, VeryOldStampSaturatesInsteadOfWrapping) {
    // 60 days ago: beyond 2^32 ms, which would wrap to about 11 days.
    EXPECT_EQ(ElapsedMs(CurrentTimeStamp() - 60ull * 24 * 3600 * 1000 * kTicksPerMs), 0xFFFFFFFFu);
    EXPECT_EQ(ElapsedMs(0), 0xFFFFFFFFu);
}

TEST(Time, StampConvertsToCalendarTime) {
    SYSTEMTIME st = {};
    ASSERT_TRUE(TimeStampToSystemTime(kUnixEpoch + 1234 * kTicksPerMs, st));
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wSecond, 1);
    EXPECT_EQ(st.wMilliseconds, 234);
    EXPECT_FALSE(TimeStampToSystemTime(0xFFFFFFFFFFFFFFFFull, st));
}

TEST(Time, NowIsAfterTheYear2020) {
    const uint64_t y2020 = 132223104000000000ull;
    EXPECT_GT(CurrentTimeStamp(), y2020);
    CTime time;
    EXPECT_GT(time.Get(), y2020);
}

}  // namespace
