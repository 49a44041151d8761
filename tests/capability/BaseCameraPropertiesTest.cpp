// The family-independent rules of writing a probe's results into the
// host's result object, with a family whose fields the test fills.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "capability/BaseCameraProperties.h"
#include "support/CapabilityHost.h"

using namespace zentavo;
using halvencap_test::TestCapabilityResults;
using Lines = std::vector<std::string>;

namespace {

class FakeProperties : public CBaseCameraProperties {
public:
    explicit FakeProperties(uint32_t standard = 0)
        : CBaseCameraProperties(standard, DEVICE_INFO("10.0.0.7", 8080, "user", "pw")) {
        model = "M1";
        codecs = {CODEC_JPEG};
        streamCount = 1;
        AddFrameSize(640, 480);
        frameRates = {25};
    }
    bool WriteGroups(ipcapture::ICapabilityResults* sink) override {
        WriteGroup(7, groupValue, sink, 1, "Seven");
        WriteGroup(0, "x", sink, 1, "Zero");
        WriteGroup(8, "x", sink, 1, "");
        return groupsResult;
    }
    bool FetchProperties(int32_t&) override { return true; }

    std::string groupValue;
    bool groupsResult = true;
};

const Lines kFields = {"field1()", "field1 text 10.0.0.7", "field2()", "field2 text 8080",
                       "field3()", "field3 text user",     "field4()", "field4 text pw"};

}  // namespace

TEST(BaseCameraProperties, MinimalSaveInOrder) {
    FakeProperties p;
    TestCapabilityResults sink;
    ASSERT_TRUE(p.SaveResults(&sink));
    Lines expected = {"name M1"};
    expected.insert(expected.end(), kFields.begin(), kFields.end());
    const Lines rest = {"item 7=1",    "item 0=1",          "sizes()",         "size 640x480 640 480 40",
                        "intervals(1)", "interval 40",      "default 40",      "item 11=0",
                        "item 12=0",   "group7()",          "group7 name Seven", "group7 option 0",
                        "group7 flag 1", "group7 text (none)"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(sink.Trace(), expected);
}

TEST(BaseCameraProperties, EveryOptionalItem) {
    FakeProperties p;
    p.manufacturer = "Maker";
    p.codecs = {3, 1, 9, 2};
    p.streamCount = 2;
    p.capFlag1 = p.capFlag5 = p.capFlag11 = true;
    p.inputCount = 2;
    p.outputCount = 1;
    p.capValue13 = 5;
    p.capMode = 1;
    p.audioInput.count = 1;
    p.audioInput.isStereo = true;
    p.audioOutput.count = 2;
    p.groupValue = "v";
    TestCapabilityResults sink;
    ASSERT_TRUE(p.SaveResults(&sink));
    const Lines trace = sink.Trace();
    EXPECT_EQ(trace.at(0), "name Maker M1");
    EXPECT_EQ(Lines(trace.begin() + 9, trace.begin() + 13), (Lines{"item 8=1", "item 6=1", "item 7=1", "item 0=2"}));
    const Lines tail = {"item 1=1", "item 5=1", "item 11=1", "item 12=0", "item 2=2", "item 3=1", "item 13=5",
                        "item 15=0", "item 14=1", "item 16=0", "item 17=0", "item 4=1", "group101()",
                        "group101 name Audio Input Parameters", "group101 option 0", "group101 flag 1",
                        "group101 text Count=1; IsStereo=1", "group102()", "group102 name Audio Output Parameters",
                        "group102 option 0", "group102 flag 1", "group102 text Count=2; IsStereo=0", "group7()",
                        "group7 name Seven", "group7 option 0", "group7 flag 1", "group7 text v"};
    ASSERT_GE(trace.size(), tail.size());
    EXPECT_EQ(Lines(trace.end() - tail.size(), trace.end()), tail);

    // Mode 2 keeps items 13 to 17 out; mode 0 writes 14 as 0.
    for (int32_t mode : {0, 2}) {
        p.capMode = mode;
        TestCapabilityResults again;
        ASSERT_TRUE(p.SaveResults(&again));
        const Lines t = again.Trace();
        const bool has13 = std::find(t.begin(), t.end(), "item 13=5") != t.end();
        EXPECT_EQ(has13, mode != 2);
        if (mode == 0) {
            EXPECT_NE(std::find(t.begin(), t.end(), "item 14=0"), t.end());
        }
    }
}

TEST(BaseCameraProperties, FailingStepsEndTheSave) {
    struct Case {
        const char* name;
        void (*change)(FakeProperties&);
        size_t written;  // trace lines before the failure
    };
    const Case cases[] = {
        {"empty model", [](FakeProperties& p) { p.model.clear(); p.manufacturer = "Maker"; }, 0},
        {"no known codec", [](FakeProperties& p) { p.codecs = {0, 4}; }, 9},
        {"no streams", [](FakeProperties& p) { p.streamCount = 0; }, 10},
        {"no sizes", [](FakeProperties& p) { p.frameSizes.clear(); }, 12},
        {"no rates", [](FakeProperties& p) { p.frameRates.clear(); }, 14},
        {"groups fail", [](FakeProperties& p) { p.groupsResult = false; }, 23},
    };
    for (const Case& c : cases) {
        FakeProperties p;
        c.change(p);
        TestCapabilityResults sink;
        EXPECT_FALSE(p.SaveResults(&sink)) << c.name;
        EXPECT_EQ(sink.Trace().size(), c.written) << c.name;
    }
    FakeProperties p;
    EXPECT_FALSE(p.SaveResults(nullptr));
}

TEST(BaseCameraProperties, FrameIntervalsAndTheirDefault) {
    struct Case {
        std::set<uint32_t> rates;
        uint32_t preferred;
        uint32_t standard;
        Lines expected;  // from "sizes()" on, up to the item after the intervals
    };
    const Case cases[] = {
        {{5, 15, 30}, 0, 0,
         {"sizes()", "size 640x480 640 480 33", "intervals(1)", "interval 200", "interval 67", "interval 33",
          "default 67", "item 11=0"}},
        {{5, 15, 30}, 20, 0,
         {"sizes()", "size 640x480 640 480 33", "intervals(1)", "interval 200", "interval 67", "interval 33",
          "default 33", "item 11=0"}},
        {{10, 25}, 0, 1,
         {"sizes()", "size 640x480 640 480 40", "intervals(1)", "interval 100", "interval 40", "default 40",
          "item 11=0"}},
        {{0, 30}, 31, 0,
         {"sizes()", "size 640x480 640 480 33", "intervals(1)", "interval 33", "item 11=0"}},
    };
    for (const Case& c : cases) {
        FakeProperties p(c.standard);
        p.frameRates = c.rates;
        p.defaultFrameRate = c.preferred;
        TestCapabilityResults sink;
        ASSERT_TRUE(p.SaveResults(&sink));
        const Lines t = sink.Trace();
        EXPECT_EQ(Lines(t.begin() + 11, t.begin() + 11 + c.expected.size()), c.expected);
    }
    // Without rates the fallback follows the video standard (and saving fails).
    for (uint32_t standard : {0u, 1u}) {
        FakeProperties p(standard);
        p.frameRates.clear();
        TestCapabilityResults sink;
        EXPECT_FALSE(p.SaveResults(&sink));
        const Lines t = sink.Trace();
        EXPECT_EQ(t.back(), "intervals(1)");
        EXPECT_EQ(t.at(t.size() - 2), standard ? "size 640x480 640 480 33" : "size 640x480 640 480 40");
    }
    // A size's own interval wins over the fallback.
    FakeProperties p;
    p.frameSizes.clear();
    p.AddFrameSize(640, 480, 50);
    p.AddFrameSize(1920, 1080, 66);
    TestCapabilityResults sink;
    ASSERT_TRUE(p.SaveResults(&sink));
    const Lines t = sink.Trace();
    EXPECT_EQ(Lines(t.begin() + 11, t.begin() + 14),
              (Lines{"sizes()", "size 640x480 640 480 50", "size 1920x1080 1920 1080 66"}));
}

TEST(BaseCameraProperties, HostGivingNoItemsOrLists) {
    class NullSink : public ipcapture::ICapabilityResults {
    public:
        void SetItem(int32_t, int32_t) override { ++calls; }
        void SetName(const char*) override { ++calls; }
        ipcapture::ICapabilityItem* GetDeviceField(int32_t) override { return nullptr; }
        ipcapture::ICapabilityItem* GetGroup(int32_t) override { return nullptr; }
        ipcapture::IFrameSizeList* GetFrameSizeList() override { return nullptr; }
        ipcapture::IFrameIntervalList* GetFrameIntervalList(int32_t) override { return nullptr; }
        int calls = 0;
    };
    FakeProperties p;
    p.groupValue = "v";
    NullSink sink;
    EXPECT_TRUE(p.SaveResults(&sink));
    EXPECT_EQ(sink.calls, 5);  // name, items 7, 0, 11, 12
}
