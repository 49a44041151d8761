#include <gtest/gtest.h>

#include "camera/CapabilityAnswers.h"

using namespace zentavo;

TEST(CapabilityAnswers, LoginEndpointConfirmation) {
    const struct {
        const char* body;
        const char* method;
        bool confirmed;
    } cases[] = {
        {"{'method': 'Status', 'success': 'true', 'enabled': 'true'}\r\n", "Status", true},
        {"{'success': 'true','method': 'Enable'}", "Enable", true},
        {"{'method': 'status', 'success': 'true'}", "Status", false},
        {"{'method': 'Status', 'success': 'True'}", "Status", false},
        {"{\"method\": \"Status\", \"success\": \"true\"}", "Status", false},
        {"{'method': 'Status'}", "Status", false},
        {"{'method': 'Enable', 'success': 'true'}", "Status", false},
        {"{'method': '', 'success': 'true'}", "", false},
        {"", "Status", false},
    };
    for (const auto& c : cases) {
        std::string body = c.body;
        EXPECT_EQ(ConfirmsAuthMethod(body, c.method), c.confirmed) << c.body;
        if (c.confirmed) {
            EXPECT_EQ(body.find('\''), std::string::npos);
            EXPECT_FALSE(body.empty());
        } else {
            EXPECT_TRUE(body.empty());
        }
    }
    EXPECT_TRUE(ReportsAuthEnabled("{method: Status, success: true, enabled: true}"));
    EXPECT_FALSE(ReportsAuthEnabled("{method: Status, success: true, enabled: false}"));
    EXPECT_FALSE(ReportsAuthEnabled("{method: Status, success: true, enabled: trueish}"));
    EXPECT_FALSE(ReportsAuthEnabled("{method: Status, success: true}"));
}

TEST(CapabilityAnswers, NamesOfRatesCodecsAndSizes) {
    EXPECT_EQ(FrameRatesOfModes({"Fps_5", "Fps_7_5", "Fps_30", "Fps", "Fps_1_2_3", "Rate_25", "fps_10", "Fps_x"}),
              (FrameRateSet{0, 5, 7, 30}));
    const struct { const char* name; int32_t codec; } codecs[] = {
        {"H_264", 1}, {"h_264", 1}, {"MPEG4", 2}, {"mpeg4", 2}, {"Jpeg", 3}, {"H264", 0}, {"MJPEG", 0}, {"", 0}};
    for (const auto& c : codecs) EXPECT_EQ(CodecOfEncoderName(c.name), c.codec) << c.name;

    const struct { const char* name; bool ok; uint16_t w, h; } sizes[] = {
        {"Size_1280x720", true, 1280, 720}, {"Size_640x480", true, 640, 480}, {"Size_65535x1", true, 65535, 1},
        {"Size_65536x1", false, 0, 0},      {"1280x720", false, 0, 0},        {"Size_1280X720", false, 0, 0},
        {"Size_x720", false, 0, 0},         {"Size_-1x720", false, 0, 0},     {"Size_1280x", false, 0, 0},
        {"Size_0x480", true, 0, 480},
    };
    for (const auto& c : sizes) {
        uint16_t w = 7, h = 7;
        EXPECT_EQ(ReadSizeName(c.name, w, h), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(std::make_pair(w, h), std::make_pair(c.w, c.h)) << c.name;
        }
    }
}

TEST(CapabilityAnswers, SensorArea) {
    std::string text = "old";
    EXPECT_TRUE(SensorAreaText("0", "8", "1280", "1016", text));
    EXPECT_EQ(text, "0,8,1280,1016");
    for (const auto& bad : {std::make_pair("0", "1024"), std::make_pair("+1280", "1024"),
                            std::make_pair("1280.0", "1024"), std::make_pair("1280", ""),
                            std::make_pair("1280", "-1")}) {
        text = "old";
        EXPECT_FALSE(SensorAreaText("0", "0", bad.first, bad.second, text)) << bad.first << " " << bad.second;
        EXPECT_TRUE(text.empty());
    }
    EXPECT_FALSE(SensorAreaText("", "0", "1280", "1024", text));
}
