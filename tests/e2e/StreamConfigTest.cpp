// Stream configuration against the camera simulator, asserted on the exact
// requests the camera received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/BaslerChannelHelper.h"
#include "support/CamSim.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::Camera;
using halvencap_test::CamSim;
using halvencap_test::FakeDriver;

namespace {

class TestHelper : public CBaslerChannelHelper {
public:
    explicit TestHelper(IDriver* driver) : CBaslerChannelHelper(driver) {}
    bool IsStopRequested() override { return stop; }
    std::string GetEncoderType() override { return encoder; }
    STREAM_SETTINGS GetStreamSettings() override { return settings; }

    bool stop = false;
    std::string encoder = "JPEG";
    STREAM_SETTINGS settings{33, 75, 640, 480};
};

// Only the parameter requests, without the "GET " and auth parts.
std::vector<std::string> ParamRequests(const Camera& camera) {
    std::vector<std::string> out;
    for (const std::string& line : camera.Log()) {
        const size_t start = line.find("/cgi-bin/param_if.cgi");
        if (start == std::string::npos) continue;
        const size_t end = line.find(' ', start);
        out.push_back(line.substr(start, end - start));
    }
    return out;
}

bool AnyContains(const std::vector<std::string>& requests, const std::string& needle) {
    for (const auto& r : requests)
        if (r.find(needle) != std::string::npos) return true;
    return false;
}

class StreamConfig : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        auto cam = CamSim().NewCamera("width=640&height=480");
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        driver.device.port = camera->port;
        driver.device.model = "TestCam";
        driver.device.requestTimeoutMs = 3000;
    }

    std::string Param(const std::string& name) { return camera->Params()[name]; }

    FakeDriver driver;
    std::optional<Camera> camera;
};

}  // namespace

TEST_F(StreamConfig, AConfiguredCameraCostsOneRequestAndWritesNothing) {
    TestHelper helper(&driver);
    ASSERT_TRUE(helper.ConfigureStream());
    const auto requests = ParamRequests(*camera);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0],
              "/cgi-bin/param_if.cgi?NumActions=17"
              "&Action_0=Global.OperationMode.GetValue&Action_1=Sensor.AOIWidth.GetValue"
              "&Action_2=Sensor.AOIHeight.GetValue&Action_3=Sensor.FrameRateMode.GetValue"
              "&Action_4=Sensor.FrameRateMode.GetEntries&Action_5=Stream.StreamSelector.GetMin"
              "&Action_6=Stream.StreamSelector.GetMax&Action_7=Stream.StreamSelector.GetValue"
              "&Action_8=Stream.EncoderType.GetValue&Action_9=Stream.EncoderMode.GetValue"
              "&Action_10=Stream.Quality.GetValue&Action_11=Stream.OutputScaling.GetValue"
              "&Action_12=Stream.FrameRateScaling.GetValue&Action_13=Stream.OutputSize.GetValue"
              "&Action_14=Stream.Quality.GetMin&Action_15=Stream.Quality.GetMax&Action_16=Stream.Quality.GetInc");
}

TEST_F(StreamConfig, ACameraInConfigureModeGetsExactlyOneMoreRequestSettingNormal) {
    ASSERT_TRUE(camera->Param("Global.OperationMode=Configure"));
    TestHelper helper(&driver);
    ASSERT_TRUE(helper.ConfigureStream());
    const auto requests = ParamRequests(*camera);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], "/cgi-bin/param_if.cgi?NumActions=1&Action_0=Global.OperationMode.SetValue&Parameter_0_0=Normal");
    EXPECT_EQ(Param("Global.OperationMode"), "Normal");
}

TEST_F(StreamConfig, FrameRateEntryChoice) {
    struct Case {
        uint32_t interval;
        std::string entries;
        std::string expected;  // empty: no rate written
    } cases[] = {
        {40, "Fps_5,Fps_7_5,Fps_10,Fps_15,Fps_25,Fps_30", "Fps_25"},
        {133, "Fps_7_5,Fps_10", ""},
        {143, "Fps_5,Fps_7_5,Fps_10", "Fps_7_5"},  // 1000/143 rounds to 7
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(camera->Entries("Sensor.FrameRateMode=" + c.entries));
        ASSERT_TRUE(camera->Param("Sensor.FrameRateMode=Fps_10"));
        ASSERT_TRUE(camera->ClearLog());
        TestHelper helper(&driver);
        helper.settings.frameIntervalMs = c.interval;
        ASSERT_TRUE(helper.ConfigureStream()) << c.interval;
        const auto requests = ParamRequests(*camera);
        if (c.expected.empty()) {
            EXPECT_FALSE(AnyContains(requests, "Sensor.FrameRateMode.SetValue")) << c.interval;
            EXPECT_EQ(Param("Sensor.FrameRateMode"), "Fps_10");
        } else {
            EXPECT_TRUE(AnyContains(requests, "Action_1=Sensor.FrameRateMode.SetValue&Parameter_1_0=" + c.expected))
                << c.interval;
            EXPECT_EQ(Param("Sensor.FrameRateMode"), c.expected);
            EXPECT_EQ(Param("Global.OperationMode"), "Normal");
        }
    }
}

TEST_F(StreamConfig, QualityIsMappedOntoTheCameraScale) {
    struct Case {
        std::string range;
        uint32_t quality;
        std::string expected;
    } cases[] = {
        {"0,10,1", 50, "5"}, {"0,100,10", 56, "60"}, {"0,100,10", 55, "50"}, {"1,100,1", 0, "1"}, {"1,100,1", 150, "100"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(camera->Range("Stream.Quality=" + c.range));
        ASSERT_TRUE(camera->Param("Stream.Quality=3"));
        TestHelper helper(&driver);
        helper.settings.quality = c.quality;
        ASSERT_TRUE(helper.ConfigureStream()) << c.range << " q" << c.quality;
        EXPECT_EQ(Param("Stream.Quality[0]"), c.expected) << c.range << " q" << c.quality;
        // Only the encoder changed, from "Normal": it is put back.
        EXPECT_EQ(Param("Global.OperationMode"), "Normal") << c.range << " q" << c.quality;
    }
}

TEST_F(StreamConfig, OutputSizeChoice) {
    struct Case {
        uint32_t w, h;
        std::string expected;
    } cases[] = {{800, 600, "Size_1280x720"}, {2048, 1536, "Size_1280x1024"}, {640, 480, "Size_640x480"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(camera->Param("Stream.OutputSize=Size_640x480"));
        TestHelper helper(&driver);
        helper.settings.width = c.w;
        helper.settings.height = c.h;
        ASSERT_TRUE(helper.ConfigureStream());
        EXPECT_EQ(Param("Stream.OutputSize[0]"), c.expected) << c.w << "x" << c.h;
        EXPECT_EQ(Param("Global.OperationMode"), "Normal");
    }
    // 0x0 writes no size at all.
    ASSERT_TRUE(camera->Param("Stream.OutputSize=Size_1280x720"));
    ASSERT_TRUE(camera->ClearLog());
    TestHelper helper(&driver);
    helper.settings.width = 0;
    helper.settings.height = 0;
    ASSERT_TRUE(helper.ConfigureStream());
    EXPECT_FALSE(AnyContains(ParamRequests(*camera), "Stream.OutputSize.SetValue"));
    EXPECT_EQ(Param("Stream.OutputSize[0]"), "Size_1280x720");
}

TEST_F(StreamConfig, TheSelectorMinimumIsUsedAndStreamValuesAreReadAgain) {
    ASSERT_TRUE(camera->Param("Stream.StreamSelector=1"));
    TestHelper helper(&driver);
    ASSERT_TRUE(helper.ConfigureStream());
    EXPECT_EQ(helper.StreamIndex(), 0u);
    const auto requests = ParamRequests(*camera);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].rfind("/cgi-bin/param_if.cgi?NumActions=11&Action_0=Stream.StreamSelector.SetValue&Parameter_0_0=0"
                                "&Action_1=Stream.StreamSelector.GetValue",
                                0),
              0u)
        << requests[1];
    // Stream 0 was already right: nothing but the selector was written.
    EXPECT_FALSE(AnyContains(requests, "Stream.EncoderType.SetValue"));
}

TEST_F(StreamConfig, AreaOfInterestIsWrittenInConfigureModeWhenItsSizeDiffers) {
    driver.params[3] = "16,8,640,480";
    TestHelper helper(&driver);
    ASSERT_TRUE(helper.ConfigureStream());
    const auto requests = ParamRequests(*camera);
    ASSERT_GE(requests.size(), 2u);
    // The sensor writes, then the stream values read again for the encoder step.
    EXPECT_EQ(requests[1],
              "/cgi-bin/param_if.cgi?NumActions=15&Action_0=Global.OperationMode.SetValue&Parameter_0_0=Configure"
              "&Action_1=Sensor.AOILeft.SetValue&Parameter_1_0=16&Action_2=Sensor.AOITop.SetValue&Parameter_2_0=8"
              "&Action_3=Sensor.AOIWidth.SetValue&Parameter_3_0=640&Action_4=Sensor.AOIHeight.SetValue&Parameter_4_0=480"
              "&Action_5=Stream.StreamSelector.GetValue&Action_6=Stream.EncoderType.GetValue"
              "&Action_7=Stream.EncoderMode.GetValue&Action_8=Stream.Quality.GetValue"
              "&Action_9=Stream.OutputScaling.GetValue&Action_10=Stream.FrameRateScaling.GetValue"
              "&Action_11=Stream.OutputSize.GetValue&Action_12=Stream.Quality.GetMin"
              "&Action_13=Stream.Quality.GetMax&Action_14=Stream.Quality.GetInc");
    EXPECT_EQ(Param("Sensor.AOIWidth"), "640");
    EXPECT_EQ(Param("Global.OperationMode"), "Normal");
}

TEST_F(StreamConfig, ARefusedParameterFailsTheRunAndIsLoggedOncePerRepeatRule) {
    ASSERT_TRUE(camera->Set("refuse=Stream.EncoderType.SetValue:Locked"));
    TestHelper helper(&driver);
    helper.encoder = "H_264";
    EXPECT_FALSE(helper.ConfigureStream());
    EXPECT_FALSE(helper.ConfigureStream());
    EXPECT_EQ(driver.CountContaining("is unable to process \"Stream.EncoderType.SetValue\" command with parameter "
                                     "\"H_264\", reason: Locked"),
              1u);
    ASSERT_TRUE(camera->Set("refuse="));
    EXPECT_TRUE(helper.ConfigureStream());
    EXPECT_EQ(Param("Stream.EncoderType[0]"), "H_264");
    EXPECT_EQ(Param("Global.OperationMode"), "Normal");
}

TEST_F(StreamConfig, AStopRequestSendsNothing) {
    TestHelper helper(&driver);
    helper.stop = true;
    EXPECT_FALSE(helper.ConfigureStream());
    EXPECT_TRUE(ParamRequests(*camera).empty());
}

TEST_F(StreamConfig, TheRequestedQualityIsWrittenAlsoWhenTheSensorChangesFirst) {
    // The frame rate differs (Fps_30 on the camera, 10 asked for), so the
    // sensor settings go out before the encoder is looked at.
    TestHelper helper(&driver);
    helper.settings.frameIntervalMs = 100;
    helper.settings.quality = 80;
    ASSERT_TRUE(helper.ConfigureStream());
    EXPECT_EQ(Param("Sensor.FrameRateMode"), "Fps_10");
    EXPECT_EQ(Param("Stream.Quality[0]"), "80");
    EXPECT_EQ(Param("Global.OperationMode"), "Normal");
    const auto requests = ParamRequests(*camera);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_NE(requests[1].find("Sensor.FrameRateMode.SetValue&Parameter_1_0=Fps_10"), std::string::npos);
    EXPECT_NE(requests[1].find("Stream.Quality.GetInc"), std::string::npos);
    // Values that were right are not written again.
    EXPECT_FALSE(AnyContains(requests, "Stream.EncoderType.SetValue"));
}
