// The streaming step's decisions from the camera's answers: key-frame
// distance, what is written, the commit and the RTSP port.
#include <gtest/gtest.h>

#include <string>

#include "channels/StreamingSetup.h"

using namespace zentavo;

namespace {

PARAM_RANGE Range(uint32_t min, uint32_t max, uint32_t inc) {
    PARAM_RANGE r;
    r.min = min;
    r.max = max;
    r.inc = inc;
    return r;
}

// The read request answered with the given values, in request order:
// selector, GOP value, min, max, inc, enabled, RTSP port, multicast.
CBaslerRequest Answered(const std::string& gop, const std::string& min, const std::string& max,
                        const std::string& inc, const std::string& enabled, const std::string& port,
                        const std::string& multicast) {
    CBaslerRequest read;
    AddStreamingReads(read, 0);
    const std::string values[] = {"0", gop, min, max, inc, enabled, port, multicast};
    std::string body;
    for (int i = 0; i < 8; ++i) body += "Return_" + std::to_string(i) + "=" + values[i] + "\r\n";
    EXPECT_TRUE(read.ProcessResponse(body, "cam").Succeeded());
    return read;
}

}  // namespace

TEST(StreamingSetup, KeyFrameDistanceFitsTheCameraRangeAndIncrement) {
    struct Row {
        PARAM_RANGE range;
        const char* expected;
    } rows[] = {
        {Range(100, 10000, 100), "1000"},
        {Range(1500, 5000, 1), "1500"},
        {Range(100, 800, 0), "800"},
        {Range(0, 5000, 300), "900"},    // 1000 is 100 past a step: down
        {Range(0, 5000, 600), "1200"},   // 400 past a step: up
        {Range(0, 1000, 600), "600"},    // up would leave the range: down
        {Range(250, 5000, 500), "750"},  // steps count from the minimum
        {Range(1000, 1000, 1), ""},      // no range to choose from
        {Range(2000, 100, 1), ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(KeyFrameDistanceValue(r.range), r.expected)
            << r.range.min << ".." << r.range.max << " step " << r.range.inc;
}

TEST(StreamingSetup, ReadsInTheCameraOrder) {
    CBaslerRequest read;
    AddStreamingReads(read, 1);
    EXPECT_EQ(read.BuildRequest(),
              "/cgi-bin/param_if.cgi?NumActions=8&Action_0=Stream.StreamSelector.SetValue&Parameter_0_0=1"
              "&Action_1=Stream.GopLength_ms.GetValue&Action_2=Stream.GopLength_ms.GetMin"
              "&Action_3=Stream.GopLength_ms.GetMax&Action_4=Stream.GopLength_ms.GetInc"
              "&Action_5=Streaming.Enabled.GetValue&Action_6=Streaming.RTSPPort.GetValue"
              "&Action_7=Streaming.Multicast.GetValue");
}

TEST(StreamingSetup, WritesOnlyWhatDiffersThenCommits) {
    struct Row {
        const char* what;
        CBaslerRequest read;
        const char* expected;  // empty: no write at all
    } rows[] = {
        {"matching camera", Answered("1000", "100", "10000", "100", "1", "554", "0"), ""},
        {"streaming off", Answered("1000", "100", "10000", "100", "0", "554", "0"),
         "/cgi-bin/param_if.cgi?NumActions=2&Action_0=Streaming.Enabled.SetValue&Parameter_0_0=1"
         "&Action_1=Streaming.Commit.Excecute"},
        {"everything differs", Answered("2000", "100", "10000", "100", "0", "554", "1"),
         "/cgi-bin/param_if.cgi?NumActions=4&Action_0=Stream.GopLength_ms.SetValue&Parameter_0_0=1000"
         "&Action_1=Streaming.Multicast.SetValue&Parameter_1_0=0"
         "&Action_2=Streaming.Enabled.SetValue&Parameter_2_0=1&Action_3=Streaming.Commit.Excecute"},
        {"no range: the key-frame distance is left alone", Answered("2000", "", "", "", "1", "554", "0"), ""},
    };
    for (Row& r : rows) {
        CBaslerRequest write;
        EXPECT_EQ(AddStreamingWrites(r.read, write), *r.expected != '\0') << r.what;
        EXPECT_EQ(write.BuildRequest(), r.expected) << r.what;
    }
}

TEST(StreamingSetup, RtspPortFromTheCamera) {
    struct Row {
        const char* value;
        bool given;
        uint16_t port;
    } rows[] = {
        {"8554", true, 8554}, {"554", true, 554},   {"85a4", true, 0}, {" 554", true, 0},
        {"-1", true, 0},      {"70000", true, 0},   {"", false, 77},
    };
    for (const Row& r : rows) {
        uint16_t port = 77;
        EXPECT_EQ(ReadRtspPort(Answered("1000", "100", "10000", "100", "1", r.value, "0"), port), r.given)
            << r.value;
        EXPECT_EQ(port, r.port) << "'" << r.value << "'";
    }
}
