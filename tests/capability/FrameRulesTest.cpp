#include <gtest/gtest.h>

#include "capability/FrameRules.h"

using namespace zentavo;

TEST(FrameRules, IntervalsOfRates) {
    const struct { uint32_t fps, ms; } cases[] = {{0, 1}, {1, 1000}, {5, 200}, {7, 143}, {15, 67},
                                                  {25, 40}, {30, 33}, {3000, 0}, {1999, 1}};
    for (const auto& c : cases) EXPECT_EQ(FrameIntervalOf(c.fps), c.ms) << c.fps;
}

TEST(FrameRules, DefaultAndFallbackRates) {
    EXPECT_EQ(DefaultFrameRate({5, 15, 30}, 0), 15u);   // half of 30 is 15
    EXPECT_EQ(DefaultFrameRate({5, 15, 30}, 20), 30u);  // smallest not below 20
    EXPECT_EQ(DefaultFrameRate({5, 15, 30}, 31), 0u);
    EXPECT_EQ(DefaultFrameRate({}, 0), 0u);
    EXPECT_EQ(DefaultFrameRate({1}, 0), 1u);
    EXPECT_EQ(FallbackFrameRate({10, 25}, 0), 25u);
    EXPECT_EQ(FallbackFrameRate({10, 25}, 1), 25u);
    EXPECT_EQ(FallbackFrameRate({}, 1), 30u);
    EXPECT_EQ(FallbackFrameRate({}, 0), 25u);
}

TEST(FrameRules, SizesMergeByWidthAndHeight) {
    FrameSizeList sizes;
    AddFrameSize(sizes, 1920, 1080, 40);
    AddFrameSize(sizes, 1920, 1080, 33);
    AddFrameSize(sizes, 640, 480);
    AddFrameSize(sizes, 1920, 1080, 50);
    AddFrameSize(sizes, 1920, 1080, 0);
    AddFrameSize(sizes, 0, 480, 10);
    AddFrameSize(sizes, 640, 0, 10);
    AddFrameSize(sizes, 640, 480, 20);  // first given without one: nothing is smaller than 0
    AddFrameSize(sizes, 480, 640, 20);
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0].width, 1920);
    EXPECT_EQ(sizes[0].minFrameIntervalMs, 33u);
    EXPECT_EQ(sizes[1].width, 640);
    EXPECT_EQ(sizes[1].minFrameIntervalMs, 0u);
    EXPECT_EQ(sizes[2].width, 480);
    EXPECT_EQ(sizes[2].height, 640);
}
