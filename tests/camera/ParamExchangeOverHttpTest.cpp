// Parameter requests carried by the HTTP sender to the camera simulator.
#include <gtest/gtest.h>

#include "camera/BaslerRequest.h"
#include "support/CamSim.h"
#include "web/HUtils.h"
#include "web/HttpSender.h"

using namespace halvencap_test;
using namespace zentavo;

namespace {

class ParamOverHttp : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available())
            GTEST_SKIP() << "camera simulator not running";
    }

    // The exchange every user of the parameter protocol performs.
    CResultDef Exchange(Web::CHttpSender& sender, CBaslerRequest& request) {
        std::string body;
        CResultDef result = HUtils::RequestGetRD(body, sender, request.BuildRequest());
        if (result.m_code == 0)
            result = request.ProcessResponse(body, "camera");
        return result;
    }

    static DEVICE_INFO Device(uint16_t port, const std::string& user, const std::string& password) {
        DEVICE_INFO device("127.0.0.1", port, user, password);
        device.requestTimeoutMs = 5000;
        return device;
    }

    CamSim sim;
};

TEST_F(ParamOverHttp, ReadsValuesRangesAndEntriesWithBasicCredentials) {
    auto camera = sim.NewCamera("user=admin&password=secret&auth=basic");
    ASSERT_TRUE(camera.has_value());
    Web::CHttpSender sender(Device(camera->port, "admin", "secret"));

    CBaslerRequest request;
    request.AddGetValue("SysInfo.ModelName");
    request.AddGetRangeInc("Stream.Quality");
    request.AddGetEntries("Stream.EncoderType");
    CResultDef result = Exchange(sender, request);
    ASSERT_EQ(0, result.m_code) << result.m_text;
    EXPECT_FALSE(request.GetValue("SysInfo.ModelName").empty());
    PARAM_RANGE quality = request.GetRangeInc("Stream.Quality");
    EXPECT_EQ(1u, quality.min);
    EXPECT_EQ(100u, quality.max);
    EXPECT_EQ(1u, quality.inc);
    EXPECT_EQ((EntryNameSet{"H_264", "JPEG", "MPEG4"}), request.GetEntryNames("Stream.EncoderType"));

    const std::vector<std::string> log = camera->Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("GET "
                  "/cgi-bin/param_if.cgi?NumActions=5&Action_0=SysInfo.ModelName.GetValue"
                  "&Action_1=Stream.Quality.GetMin&Action_2=Stream.Quality.GetMax"
                  "&Action_3=Stream.Quality.GetInc&Action_4=Stream.EncoderType.GetEntries"
                  " auth=Basic YWRtaW46c2VjcmV0",
              log.back());
}

TEST_F(ParamOverHttp, RefusedActionNamesTheCameraReason) {
    auto camera = sim.NewCamera();
    ASSERT_TRUE(camera.has_value());
    ASSERT_TRUE(camera->Set("refuse=Stream.Quality.SetValue:busy"));
    Web::CHttpSender sender(Device(camera->port, "", ""));

    CBaslerRequest request;
    request.AddSetValue("Stream.Quality", 50u);
    CResultDef result = Exchange(sender, request);
    EXPECT_EQ(13, result.m_code);
    EXPECT_EQ(LOG_ERROR, result.m_level);
    EXPECT_EQ("zentavo::CBaslerRequest::ProcessResponse: The camera is unable to process "
              "\"Stream.Quality.SetValue\" command with parameter \"50\", reason: busy",
              result.m_text);
}

TEST_F(ParamOverHttp, WrongPasswordIsElevenThenEight) {
    auto camera = sim.NewCamera("user=admin&password=secret&auth=basic");
    ASSERT_TRUE(camera.has_value());
    Web::CHttpSender sender(Device(camera->port, "admin", "wrong"));
    CBaslerRequest request;
    request.AddGetValue("SysInfo.ModelName");
    EXPECT_EQ(11, Exchange(sender, request).m_code);
    EXPECT_EQ(8, Exchange(sender, request).m_code);
}

}  // namespace
