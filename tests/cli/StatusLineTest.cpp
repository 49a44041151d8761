#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../tools/halvencap/StatusLine.h"

using namespace zentavo::cli;

TEST(CliStatusLine, RatesOverTheWindow) {
    RateMeter meter(2.0);
    EXPECT_EQ(meter.FramesPerSecond(), 0);
    meter.Add(0.0, 0, 0);
    EXPECT_EQ(meter.FramesPerSecond(), 0);
    meter.Add(1.0, 10, 125000);
    EXPECT_DOUBLE_EQ(meter.FramesPerSecond(), 10.0);
    EXPECT_DOUBLE_EQ(meter.KilobitsPerSecond(), 1000.0);
    meter.Add(2.0, 20, 250000);
    meter.Add(3.0, 20, 250000);  // stalled for a second
    meter.Add(4.0, 20, 250000);
    // Only the last two seconds count: nothing arrived in them.
    EXPECT_DOUBLE_EQ(meter.FramesPerSecond(), 0.0);
    meter.Add(5.0, 25, 250000);
    EXPECT_DOUBLE_EQ(meter.FramesPerSecond(), 2.5);
}

TEST(CliStatusLine, ReconnectsCountRecoveriesOnly) {
    const struct {
        std::vector<int> states;
        uint32_t reconnects;
    } cases[] = {
        {{-1, 2, 2, 0, 0}, 0},          // a slow start is no reconnect
        {{0, 2, 0}, 1},
        {{0, 2, 2, 0, 2, 0, 0}, 2},
        {{0, -1, 0}, 0},                // no state for a moment is no loss
        {{0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        StateTracker tracker;
        for (int s : c.states) tracker.Observe(s);
        EXPECT_EQ(tracker.Reconnects(), c.reconnects);
        EXPECT_EQ(tracker.State(), c.states.back());
    }
}

TEST(CliStatusLine, Format) {
    StatusSnapshot s;
    s.seconds = 75.9;
    s.frames = 759;
    s.fps = 10.04;
    s.kbps = 4321.4;
    s.state = 0;
    s.everStreamed = true;
    s.reconnects = 1;
    s.lost = 2;
    s.lastLog = "Camera 127.0.0.1 is online";
    EXPECT_EQ(FormatStatus(s),
              "01:15 | 759 frames | 10.0 fps | 4321 kbit/s | streaming | reconnects 1 | lost 2 | last: Camera "
              "127.0.0.1 is online");
    s.state = 2;
    s.lastLog.clear();
    EXPECT_EQ(FormatStatus(s), "01:15 | 759 frames | 10.0 fps | 4321 kbit/s | no signal | reconnects 1 | lost 2");
    s.everStreamed = false;
    EXPECT_NE(FormatStatus(s).find("| connecting |"), std::string::npos);
    EXPECT_STREQ(CameraStateName(STATE_UNKNOWN, false), "starting");
    EXPECT_STREQ(CameraStateName(0, false), "streaming");
    EXPECT_EQ(FormatBytes(512), "512 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(3 * 1024 * 1024), "3.0 MiB");
}
