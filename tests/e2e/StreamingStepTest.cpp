// The RTSP channels' camera preparation against the camera simulator,
// asserted on the exact requests the camera received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/BaslerChannelHelper.h"
#include "channels/StreamingStep.h"
#include "support/CamSim.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::Camera;
using halvencap_test::CamSim;
using halvencap_test::FakeDriver;

namespace {

class CodecHelper : public CBaslerChannelHelper {
public:
    CodecHelper(IDriver* driver, const std::string& encoderType)
        : CBaslerChannelHelper(driver), encoder(encoderType) {}
    bool IsStopRequested() override { return false; }
    std::string GetEncoderType() override { return encoder; }
    STREAM_SETTINGS GetStreamSettings() override { return STREAM_SETTINGS{100, 75, 640, 480}; }

    // Both halves, as the channel prepares a connection.
    bool Prepare() { return ConfigureStream() && ExecuteStreamingStep(*this, rtspPort); }

    std::string encoder;
    uint16_t rtspPort = 0;
};

std::vector<std::string> ParamRequests(const Camera& camera) {
    std::vector<std::string> out;
    for (const std::string& line : camera.Log()) {
        const size_t start = line.find("/cgi-bin/param_if.cgi");
        if (start == std::string::npos) continue;
        out.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return out;
}

const char* const kRead =
    "/cgi-bin/param_if.cgi?NumActions=8&Action_0=Stream.StreamSelector.SetValue&Parameter_0_0=0"
    "&Action_1=Stream.GopLength_ms.GetValue&Action_2=Stream.GopLength_ms.GetMin"
    "&Action_3=Stream.GopLength_ms.GetMax&Action_4=Stream.GopLength_ms.GetInc"
    "&Action_5=Streaming.Enabled.GetValue&Action_6=Streaming.RTSPPort.GetValue"
    "&Action_7=Streaming.Multicast.GetValue";

class StreamingStep : public ::testing::Test {
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

TEST_F(StreamingStep, EncoderThenReadThenOneCommittedWriteOfWhatDiffered) {
    struct Case {
        const char* encoder;
        const char* setup;  // parameter query applied before
        const char* write;  // the streaming write, empty for none
    } cases[] = {
        {"H_264", "Stream.GopLength_ms[0]=2000",
         "/cgi-bin/param_if.cgi?NumActions=2&Action_0=Stream.GopLength_ms.SetValue&Parameter_0_0=1000"
         "&Action_1=Streaming.Commit.Excecute"},
        {"MPEG4", "Streaming.Enabled=0&Streaming.Multicast=1",
         "/cgi-bin/param_if.cgi?NumActions=3&Action_0=Streaming.Multicast.SetValue&Parameter_0_0=0"
         "&Action_1=Streaming.Enabled.SetValue&Parameter_1_0=1&Action_2=Streaming.Commit.Excecute"},
        {"H_264", "Stream.GopLength_ms[0]=1000", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(camera->Param(std::string("Stream.EncoderType[0]=JPEG&Stream.GopLength_ms[0]=1000"
                                              "&Streaming.Enabled=1&Streaming.Multicast=0&") +
                                  c.setup));
        ASSERT_TRUE(camera->ClearLog());
        const std::string commitsBefore = Param("Streaming.Commit");
        CodecHelper helper(&driver, c.encoder);
        ASSERT_TRUE(helper.Prepare()) << c.encoder << " " << c.setup;

        const auto requests = ParamRequests(*camera);
        // The configuration with the codec's encoder, then the streaming
        // read and, last, the one write when anything differed.
        const std::string encoderWrite = std::string("&Action_2=Stream.EncoderType.SetValue&Parameter_2_0=") + c.encoder;
        ASSERT_GE(requests.size(), 3u);
        const size_t read = requests.size() - (*c.write ? 2 : 1);
        EXPECT_EQ(requests[read], kRead) << c.setup;
        size_t encoderWrites = 0;
        for (size_t i = 0; i < read; ++i) {
            EXPECT_EQ(requests[i].find("Streaming."), std::string::npos) << requests[i];
            if (requests[i].find(encoderWrite) != std::string::npos) ++encoderWrites;
        }
        EXPECT_EQ(encoderWrites, 1u) << c.encoder;
        if (*c.write) {
            EXPECT_EQ(requests.back(), c.write);
            EXPECT_EQ(Param("Streaming.Commit"), std::to_string(std::stoi(commitsBefore) + 1));
        } else {
            EXPECT_EQ(Param("Streaming.Commit"), commitsBefore);
        }
        EXPECT_EQ(Param("Stream.EncoderType[0]"), c.encoder);
        EXPECT_EQ(Param("Stream.GopLength_ms[0]"), "1000");
        EXPECT_EQ(Param("Streaming.Enabled"), "1");
        EXPECT_EQ(Param("Streaming.Multicast"), "0");
    }
}

TEST_F(StreamingStep, TheCameraNamesTheRtspPort) {
    CodecHelper helper(&driver, "H_264");
    struct Step {
        const char* value;  // nullptr: the camera answers an empty value
        uint16_t port;
    } steps[] = {{"8554", 8554}, {nullptr, 8554}, {"85x4", 0}, {"554", 554}};
    for (const Step& s : steps) {
        ASSERT_TRUE(camera->Param(std::string("Streaming.RTSPPort=") + (s.value ? s.value : "")));
        ASSERT_TRUE(ExecuteStreamingStep(helper, helper.rtspPort));
        EXPECT_EQ(helper.rtspPort, s.port) << (s.value ? s.value : "(none)");
    }
}

TEST_F(StreamingStep, ARefusedReadOrWriteFailsThePreparation) {
    CodecHelper helper(&driver, "H_264");
    ASSERT_TRUE(helper.ConfigureStream());
    ASSERT_TRUE(camera->Set("refuse=Streaming.Multicast.GetValue:busy"));
    EXPECT_FALSE(ExecuteStreamingStep(helper, helper.rtspPort));
    ASSERT_TRUE(camera->Set("refuse=&refuse=Streaming.Commit.Excecute:busy"));
    ASSERT_TRUE(camera->Param("Streaming.Enabled=0"));
    EXPECT_FALSE(ExecuteStreamingStep(helper, helper.rtspPort));
    ASSERT_TRUE(camera->Set("refuse="));
    EXPECT_TRUE(ExecuteStreamingStep(helper, helper.rtspPort));
    EXPECT_EQ(Param("Streaming.Enabled"), "1");
}
