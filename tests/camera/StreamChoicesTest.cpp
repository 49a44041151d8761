#include <gtest/gtest.h>

#include "camera/StreamChoices.h"

using namespace zentavo;

TEST(StreamChoices, FrameRateEntry) {
    const EntryNameSet all = {"Fps_5", "Fps_7_5", "Fps_10", "Fps_15", "Fps_25", "Fps_30"};
    struct Case {
        EntryNameSet entries;
        uint32_t interval;
        std::string expected;
    } cases[] = {
        {all, 40, "Fps_25"},
        {all, 33, "Fps_30"},
        {all, 143, "Fps_7_5"},           // 7 per second: the fractional entry
        {{"Fps_7_5", "Fps_10"}, 133, ""},  // 8 per second is not offered
        {all, 0, ""},
        {{}, 40, ""},
        {{"Fps_1", "Fps_10"}, 1000, "Fps_1"},
        {{"Fps_10", "Fps_2"}, 1000, ""},   // Fps_10 is not a form of 1 per second
        {{"Fps_1_25"}, 1000, "Fps_1_25"},
        {all, 3, ""},                     // 333 per second
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseFrameRateEntry(c.entries, c.interval), c.expected) << c.interval;
}

TEST(StreamChoices, QualityMapping) {
    struct Case {
        PARAM_RANGE range;
        uint32_t q;
        std::string expected;
    } cases[] = {
        {{0, 10, 0, 1}, 50, "5"},
        {{1, 100, 0, 1}, 0, "1"},
        {{1, 100, 0, 0}, 150, "100"},
        {{1, 100, 0, 1}, 42, "42"},
        {{0, 100, 0, 10}, 56, "60"},
        {{0, 100, 0, 10}, 55, "50"},   // exactly half goes down
        {{0, 100, 0, 0}, 100, "100"},
        {{5, 5, 0, 1}, 50, ""},        // no range
        {{10, 0, 0, 1}, 50, ""},
        {{0, 0, 0, 0}, 50, ""},
        {{0, 96, 0, 10}, 100, "90"},   // rounding up must not pass the maximum
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapQuality(c.range, c.q), c.expected) << c.range.min << ".." << c.range.max << " inc " << c.range.inc
                                                        << " q " << c.q;
}

TEST(StreamChoices, OutputSizeEntry) {
    const EntryNameSet offered = {"Size_640x480", "Size_1280x720", "Size_1280x1024"};
    EXPECT_EQ(ChooseSizeEntry(offered, "Size_800x600"), "Size_1280x720");
    EXPECT_EQ(ChooseSizeEntry(offered, "Size_2048x1536"), "Size_1280x1024");
    EXPECT_EQ(ChooseSizeEntry(offered, "Size_640x480"), "Size_640x480");
    EXPECT_EQ(ChooseSizeEntry(offered, "Size_320x240"), "Size_640x480");
    EXPECT_EQ(ChooseSizeEntry(offered, "Size_1280x800"), "Size_1280x1024");
    EXPECT_EQ(ChooseSizeEntry({}, "Size_640x480"), "");
    // Sizes compare numerically, not as text.
    EXPECT_TRUE(SizeEntryLess("Size_640x480", "Size_1280x720"));
    EXPECT_FALSE(SizeEntryLess("Size_1280x720", "Size_640x480"));
    EXPECT_TRUE(SizeEntryLess("Size_1280x720", "Size_1280x1024"));
}
