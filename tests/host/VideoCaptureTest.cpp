// The video capture object's table, driven with scripted channels.
#include <gtest/gtest.h>

#include <vector>

#include "host/IPVideoCapture.h"
#include "support/TestHost.h"

using namespace zentavo;
using halvencap_test::TestChannelConfig;
using halvencap_test::TestPictureSize;

namespace {

struct Journal {
    std::vector<std::string> events;
};

class ScriptedChannel : public ICameraChannel {
public:
    ScriptedChannel(Journal& j, int id, bool startResult) : m_j(j), m_id(id), m_startResult(startResult) {}
    ~ScriptedChannel() override { m_j.events.push_back("delete " + std::to_string(m_id)); }
    bool Start(const STREAM_SETTINGS& s) override {
        settings = s;
        m_j.events.push_back("start " + std::to_string(m_id));
        state = m_startResult ? 0 : 3;
        return m_startResult;
    }
    void Stop() override { m_j.events.push_back("stop " + std::to_string(m_id)); }
    bool Restart(const STREAM_SETTINGS& s) override {
        restarted = s;
        state = 3;
        return false;
    }
    int32_t GetState() override { return state; }

    STREAM_SETTINGS settings{};
    STREAM_SETTINGS restarted{};
    int32_t state = 3;

private:
    Journal& m_j;
    int m_id;
    bool m_startResult;
};

class ScriptedCreator : public IVideoChannelCreator {
public:
    explicit ScriptedCreator(Journal& j) : m_j(j) {}
    void* DeletingDestructor(unsigned) override { return this; }
    ICameraChannel* CreateChannel(uint32_t, ipcapture::IChannelCallback*) override {
        if (!makeChannels) return nullptr;
        m_j.events.push_back("create " + std::to_string(next));
        last = new ScriptedChannel(m_j, next++, startResult);
        return last;
    }
    IChannelCompanion* CreateCompanion(uint32_t, ipcapture::IChannelCallback*) override { return nullptr; }

    bool makeChannels = true;
    bool startResult = true;
    int next = 1;
    ScriptedChannel* last = nullptr;

private:
    Journal& m_j;
};

}  // namespace

TEST(VideoCapture, IndexChecksAndEmptyEntries) {
    Journal j;
    ScriptedCreator creator(j);
    CIPVideoCapture vc(&creator, 1);
    TestChannelConfig cfg;
    EXPECT_EQ(vc.GetChannelCount(), 1u);
    EXPECT_FALSE(vc.StartChannel(1, nullptr, &cfg));
    EXPECT_FALSE(vc.StopChannel(0));
    EXPECT_FALSE(vc.StopChannel(7));
    TestPictureSize size(320, 240);
    EXPECT_FALSE(vc.ChangeChannel(0, &size, 40));
    EXPECT_FALSE(vc.GetChannelOptionA(0));
    EXPECT_FALSE(vc.GetChannelOptionB(3));
    EXPECT_TRUE(j.events.empty());

    CIPVideoCapture none(&creator, 0);
    EXPECT_FALSE(none.StartChannel(0, nullptr, &cfg));
}

TEST(VideoCapture, StateIsClearedAndStoppedReadsAsSignalLost) {
    Journal j;
    ScriptedCreator creator(j);
    CIPVideoCapture vc(&creator, 2);
    int32_t state = 55, error = 9;
    char text[8] = "abc";
    EXPECT_FALSE(vc.GetChannelState(5, &state, &error, text, sizeof text));
    EXPECT_EQ(state, 55);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_FALSE(vc.GetChannelState(0, &state, &error, nullptr, 10));  // null text with a size is fine

    TestChannelConfig cfg;
    ASSERT_TRUE(vc.StartChannel(1, nullptr, &cfg));
    error = 4;
    ASSERT_TRUE(vc.GetChannelState(1, &state, &error, text, sizeof text));
    EXPECT_EQ(state, 0);
    EXPECT_EQ(error, 0);

    // A failed restart leaves the channel stopped (3), which the host sees as 2.
    TestPictureSize size(320, 240);
    EXPECT_FALSE(vc.ChangeChannel(1, &size, 40));
    EXPECT_EQ(creator.last->restarted.quality, 0u);
    EXPECT_EQ(creator.last->restarted.frameIntervalMs, 40u);
    EXPECT_EQ(creator.last->restarted.width, 320u);
    ASSERT_TRUE(vc.GetChannelState(1, &state, &error, text, sizeof text));
    EXPECT_EQ(state, 2);
}

TEST(VideoCapture, SettingsComeFromTheChannelConfig) {
    Journal j;
    ScriptedCreator creator(j);
    CIPVideoCapture vc(&creator, 1);
    TestChannelConfig cfg;
    cfg.width = 1280;
    cfg.height = 720;
    cfg.frameIntervalMs = 40;
    cfg.quality = 77;
    ASSERT_TRUE(vc.StartChannel(0, nullptr, &cfg));
    const STREAM_SETTINGS s = creator.last->settings;
    EXPECT_EQ(s.width, 1280u);
    EXPECT_EQ(s.height, 720u);
    EXPECT_EQ(s.frameIntervalMs, 40u);
    EXPECT_EQ(s.quality, 77u);
}

TEST(VideoCapture, StartingTwiceStopsAndDeletesTheFirstBeforeCreatingTheSecond) {
    Journal j;
    ScriptedCreator creator(j);
    {
        CIPVideoCapture vc(&creator, 1);
        TestChannelConfig cfg;
        ASSERT_TRUE(vc.StartChannel(0, nullptr, &cfg));
        ASSERT_TRUE(vc.StartChannel(0, nullptr, &cfg));
    }
    const std::vector<std::string> expected = {"create 1", "start 1", "stop 1", "delete 1", "create 2",
                                               "start 2",  "stop 2",  "delete 2"};
    EXPECT_EQ(j.events, expected);
}

TEST(VideoCapture, FailedStartKeepsTheEntryAndNoChannelKindFails) {
    Journal j;
    ScriptedCreator creator(j);
    CIPVideoCapture vc(&creator, 1);
    TestChannelConfig cfg;
    creator.startResult = false;
    EXPECT_FALSE(vc.StartChannel(0, nullptr, &cfg));
    int32_t state = -1, error = 0;
    EXPECT_TRUE(vc.GetChannelState(0, &state, &error, nullptr, 0));
    EXPECT_EQ(state, 2);
    EXPECT_TRUE(vc.StopChannel(0));

    creator.makeChannels = false;
    EXPECT_FALSE(vc.StartChannel(0, nullptr, &cfg));
    EXPECT_FALSE(vc.StopChannel(0));
}
