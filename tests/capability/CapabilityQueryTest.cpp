// The capability query through the shipped library, the way a recording
// server probes a device before adding it: the exports, a host result
// object and callback, a simulated camera. Asserted on the exact requests
// the camera received and the exact calls the result object got.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capability/IIPCapabilityQuery.h"
#include "io/IORequests.h"
#include "support/CamSim.h"
#include "support/CapabilityHost.h"
#include "support/DriverLibrary.h"
#include "capability/QueryExports.h"

using namespace halvencap_test;
using namespace halvencap_test::io_requests;
using namespace std::chrono_literals;
using zentavo::ipcapture::ICapabilityQueryCallback;
using zentavo::ipcapture::ICapabilityResults;
using zentavo::ipcapture::IIPCapabilityQuery;
using Lines = std::vector<std::string>;

namespace {

constexpr auto kBound = 30s;
const char* const kFetchFailed = "Failed to get camera properties";


std::string Status(const std::string& method) { return "GET /cgi-bin/auth_if.cgi?" + method + " auth=-"; }

std::string SystemInfo() {
    return Logged({{"Global.OperationMode.GetValue", ""}, {"SysInfo.ModelName.GetValue", ""},
                   {"SysInfo.DeviceVersion.GetValue", ""}, {"SysInfo.ManName.GetValue", ""},
                   {"SysInfo.ManSpecInfo.GetValue", ""}, {"SysInfo.FirmwareVersion.GetValue", ""},
                   {"SysInfo.MACAddress.GetValue", ""}});
}

std::string StreamCapabilities(bool switchToConfigure) {
    std::vector<Action> actions;
    if (switchToConfigure) actions.push_back({"Global.OperationMode.SetValue", "Configure"});
    for (const char* a : {"Sensor.AOITop.GetValue", "Sensor.AOILeft.GetValue", "Sensor.AOIWidth.GetValue",
                          "Sensor.AOIHeight.GetValue", "Sensor.FrameRateMode.GetEntries",
                          "Stream.StreamSelector.GetValue", "Stream.StreamSelector.GetMin",
                          "Stream.StreamSelector.GetMax", "Stream.OutputSize.GetEntries",
                          "Stream.EncoderType.GetEntries", "Stream.EncoderType.GetValue"})
        actions.push_back({a, ""});
    return Logged(actions);
}

std::string SizesOf(const std::string& encoder) {
    return Logged({{"Stream.EncoderType.SetValue", encoder}, {"Stream.OutputSize.GetEntries", ""}});
}

std::string SetEncoder(const std::string& encoder) { return Logged({{"Stream.EncoderType.SetValue", encoder}}); }
std::string SetMode(const std::string& mode) { return Logged({{"Global.OperationMode.SetValue", mode}}); }
std::string IORange() { return Logged({{"IO.IOSelector.GetMin", ""}, {"IO.IOSelector.GetMax", ""}}); }
std::string LineDirection(uint32_t line) {
    return Logged({{"IO.IOSelector.SetValue", std::to_string(line)}, {"IO.Direction.GetValue", ""}});
}

// Everything after the stream capabilities on a default camera in Normal mode.
Lines DefaultEncodersModeAndLines() {
    return {SizesOf("H_264"), SizesOf("MPEG4"), SetEncoder("JPEG"), SetMode("Normal"), IORange(),
            LineDirection(0), LineDirection(1), LineDirection(2), LineDirection(3)};
}

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Lines Group(int id, const std::string& name, int flag, const std::string& text) {
    const std::string g = "group" + std::to_string(id);
    return {g + "()", g + " name " + name, g + " option 0", g + " flag " + std::to_string(flag), g + " text " + text};
}

Lines DeviceFields(uint16_t port, const std::string& user = "", const std::string& password = "") {
    return {"field1()", "field1 text 127.0.0.1", "field2()", "field2 text " + std::to_string(port),
            "field3()", "field3 text " + user, "field4()", "field4 text " + password};
}

Lines DefaultIntervals() {
    return {"intervals(1)", "interval 200", "interval 143", "interval 100", "interval 67", "interval 40",
            "interval 33", "default 67"};
}

Lines Groups(const std::string& standard, const std::string& io) {
    return Join({Group(1, "KOVA Video Standard", 0, standard), Group(2, "Device Firmware Version", 1, "3.6.2"),
                   Group(3, "Sensor AOI Configuration", 1, "0,0,1280,1024"),
                   Group(4, "Digital I/O Configuration", 1, io)});
}

class CapabilityQuery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Loaded());
        ASSERT_TRUE(exports.Complete());
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        auto cam = CamSim().NewCamera(cameraQuery);
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
    }

    void TearDown() override {
        if (module != nullptr) exports.destroy(module);
        module = nullptr;
    }

    // Runs one probe on its own module and waits for its end.
    CapabilityOutcome Probe(const std::string& user = "", const std::string& password = "",
                            uint32_t videoStandard = 1) {
        module = exports.create(&callback, videoStandard);
        EXPECT_NE(module, nullptr);
        if (module == nullptr) return {};
        EXPECT_EQ(module->Start("127.0.0.1", camera->port, user.c_str(), password.c_str(), &results), 1);
        EXPECT_TRUE(callback.Wait(1, kBound));
        exports.destroy(module);
        module = nullptr;
        const auto outcomes = callback.Outcomes();
        EXPECT_EQ(outcomes.size(), 1u);
        return outcomes.empty() ? CapabilityOutcome() : outcomes.front();
    }

    std::string Mode() const { return camera->Params()["Global.OperationMode"]; }

    std::string cameraQuery;
    DriverLibrary library;
    QueryExports exports{library};
    TestCapabilityResults results;
    TestCapabilityCallback callback;
    std::optional<Camera> camera;
    IIPCapabilityQuery* module = nullptr;
};

}  // namespace

TEST_F(CapabilityQuery, FullProbeExchangesAndResults) {
    ASSERT_TRUE(camera->Entries("Stream.OutputSize@H_264=Size_1920x1080,Size_640x480"));
    const CapabilityOutcome outcome = Probe("", "", 0x101);
    EXPECT_EQ(outcome.kind, CapabilityOutcome::Completed) << outcome.message;
    EXPECT_NE(outcome.threadId, GetCurrentThreadId());

    EXPECT_EQ(camera->Log(), Join({{Status("Status"), SystemInfo(), StreamCapabilities(true)},
                                     DefaultEncodersModeAndLines()}));
    const Lines expected = Join({{"name Basler BIP2-1280c-dn"}, DeviceFields(camera->port),
                                   {"item 8=1", "item 6=1", "item 7=1", "item 0=1", "sizes()",
                                    "size 1280x1024 1280 1024 33", "size 1280x720 1280 720 33",
                                    "size 1920x1080 1920 1080 33", "size 640x480 640 480 33"},
                                   DefaultIntervals(), {"item 11=0", "item 12=0", "item 2=2", "item 3=2"},
                                   Groups("1", "input=0,1; output=2,3")});
    EXPECT_EQ(results.Trace(), expected);
    // Back as it was for every other client of the camera.
    auto params = camera->Params();
    EXPECT_EQ(params["Global.OperationMode"], "Normal");
    EXPECT_EQ(params["Stream.EncoderType[0]"], "JPEG");
}

// Part of the camera set up differently, the outcome and the exchanges.
struct LoginCase {
    const char* name;
    const char* switches;
    Lines loginRequests;
    bool completes;
};

TEST_F(CapabilityQuery, LoginCheckAnswers) {
    const LoginCase cases[] = {
        {"enabled", "", {Status("Status")}, true},
        {"disabled, then enabled", "enabled=0", {Status("Status"), Status("Enable")}, true},
        {"enable refused", "enabled=0&enable_ok=0", {Status("Status"), Status("Enable")}, false},
        {"method in other case", "auth_answer=lower_method", {Status("Status")}, false},
        {"success True", "auth_answer=capital_true", {Status("Status")}, false},
        {"double-quoted keys", "auth_answer=double", {Status("Status")}, false},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto cam = CamSim().NewCamera();
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        if (*c.switches) {
            ASSERT_TRUE(camera->Set(c.switches));
        }
        TestCapabilityCallback local;
        TestCapabilityResults sink;
        IIPCapabilityQuery* query = exports.create(&local, 1);
        ASSERT_NE(query, nullptr);
        ASSERT_EQ(query->Start("127.0.0.1", camera->port, "", "", &sink), 1);
        ASSERT_TRUE(local.Wait(1, kBound));
        exports.destroy(query);
        const auto outcome = local.Outcomes().at(0);
        const Lines log = camera->Log();
        ASSERT_GE(log.size(), c.loginRequests.size());
        EXPECT_EQ(Lines(log.begin(), log.begin() + c.loginRequests.size()), c.loginRequests);
        if (c.completes) {
            EXPECT_EQ(outcome.kind, CapabilityOutcome::Completed) << outcome.message;
            EXPECT_EQ(log.size(), c.loginRequests.size() + 11);
        } else {
            EXPECT_EQ(outcome.kind, CapabilityOutcome::Failed);
            EXPECT_EQ(outcome.code, 3);
            EXPECT_EQ(outcome.message, kFetchFailed);
            EXPECT_EQ(log, c.loginRequests);
            EXPECT_TRUE(sink.Trace().empty());
        }
    }
}

TEST_F(CapabilityQuery, RefusedCredentialsAreLoginFailure) {
    auto cam = CamSim().NewCamera("user=admin&password=secret");
    ASSERT_TRUE(cam);
    camera.emplace(std::move(*cam));
    const CapabilityOutcome outcome = Probe("admin", "wrong");
    EXPECT_EQ(outcome.kind, CapabilityOutcome::Failed);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.message, std::string(kFetchFailed) + ", login failed (invalid credentials)");
    for (const std::string& line : camera->Log())
        EXPECT_EQ(line.rfind("GET /cgi-bin/auth_if.cgi?Status ", 0), 0u) << line;
    EXPECT_TRUE(results.Trace().empty());

    // The right credentials go through, and reach the result object.
    TestCapabilityCallback again;
    TestCapabilityResults sink;
    IIPCapabilityQuery* query = exports.create(&again, 1);
    ASSERT_EQ(query->Start("127.0.0.1", camera->port, "admin", "secret", &sink), 1);
    ASSERT_TRUE(again.Wait(1, kBound));
    exports.destroy(query);
    EXPECT_EQ(again.Outcomes().at(0).kind, CapabilityOutcome::Completed) << again.Outcomes().at(0).message;
    const Lines trace = sink.Trace();
    const Lines fields = DeviceFields(camera->port, "admin", "secret");
    ASSERT_GE(trace.size(), 1 + fields.size());
    EXPECT_EQ(Lines(trace.begin() + 1, trace.begin() + 1 + fields.size()), fields);
}

// A camera set up through the simulator's control API, and what the probe
// then tells the host.
struct CameraCase {
    const char* name;
    std::vector<std::pair<const char*, std::string>> setup;  // command, query
    bool completes;
    std::function<void(const Lines& log, const Lines& trace, const std::string& mode)> check;
};

bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Lines Slice(const Lines& lines, const std::string& first, const std::string& last) {
    auto b = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(first, 0) == 0; });
    auto e = std::find_if(b, lines.end(), [&](const std::string& l) { return l.rfind(last, 0) == 0; });
    return e == lines.end() ? Lines() : Lines(b, e + 1);
}

TEST_F(CapabilityQuery, CameraFamilyRules) {
    const CameraCase cases[] = {
        {"camera already in Configure mode is left there",
         {{"param", "Global.OperationMode=Configure"}},
         true,
         [](const Lines& log, const Lines&, const std::string& mode) {
             EXPECT_EQ(Lines(log.begin(), log.begin() + 3),
                       (Lines{Status("Status"), SystemInfo(), StreamCapabilities(false)}));
             EXPECT_FALSE(Contains(log, SetMode("Normal")));
             EXPECT_EQ(mode, "Configure");
         }},
        {"zero sensor width fails after switching back",
         {{"param", "Sensor.AOIWidth=0"}},
         false,
         [](const Lines& log, const Lines&, const std::string& mode) {
             EXPECT_EQ(log, (Lines{Status("Status"), SystemInfo(), StreamCapabilities(true), SetMode("Normal")}));
             EXPECT_EQ(mode, "Normal");
         }},
        {"signed sensor height fails",
         {{"param", "Sensor.AOIHeight=%2B720"}},
         false,
         [](const Lines& log, const Lines&, const std::string& mode) {
             EXPECT_EQ(log.back(), SetMode("Normal"));
             EXPECT_EQ(mode, "Normal");
         }},
        {"decimal sensor width fails",
         {{"param", "Sensor.AOIWidth=1280.0"}},
         false,
         [](const Lines& log, const Lines&, const std::string& mode) { EXPECT_EQ(mode, "Normal"); }},
        {"rate names without Fps are ignored",
         {{"entries", "Sensor.FrameRateMode=Rate_30,Fps,Fps_15,Fps_1_2_3,Fps_5_0"}},
         true,
         [](const Lines&, const Lines& trace, const std::string&) {
             const Lines intervals = Slice(trace, "intervals(1)", "default");
             EXPECT_EQ(intervals, (Lines{"intervals(1)", "interval 200", "interval 67", "default 67"}));
             EXPECT_TRUE(Contains(trace, "size 640x480 640 480 67"));
         }},
        {"no usable rate name fails",
         {{"entries", "Sensor.FrameRateMode=Rate_30,Fps,Fps_1_2_3"}},
         false,
         [](const Lines& log, const Lines&, const std::string& mode) {
             EXPECT_EQ(log.back(), SetMode("Normal"));
             EXPECT_EQ(mode, "Normal");
         }},
        {"rates 5, 15 and 30",
         {{"entries", "Sensor.FrameRateMode=Fps_30,Fps_5,Fps_15"}},
         true,
         [](const Lines&, const Lines& trace, const std::string&) {
             EXPECT_EQ(Slice(trace, "intervals(1)", "default"),
                       (Lines{"intervals(1)", "interval 200", "interval 67", "interval 33", "default 67"}));
         }},
        {"compression names in any case, not without the underscore",
         {{"entries", "Stream.EncoderType=h_264,H264,JPEG,Mjpeg"}},
         true,
         [](const Lines& log, const Lines& trace, const std::string&) {
             EXPECT_TRUE(Contains(log, SizesOf("h_264")));
             EXPECT_FALSE(Contains(log, SizesOf("H264")));
             EXPECT_FALSE(Contains(log, SizesOf("Mjpeg")));
             EXPECT_EQ(Slice(trace, "item 8=1", "item 0=1"), (Lines{"item 8=1", "item 7=1", "item 0=1"}));
         }},
        {"repeated sizes across compressions are listed once, odd names dropped",
         {{"entries", "Stream.OutputSize@H_264=Size_640x480,Size_0x480,VGA,Size_640x480x2"},
          {"entries", "Stream.OutputSize@MPEG4=Size_320x240,Size_640x480"}},
         true,
         [](const Lines&, const Lines& trace, const std::string&) {
             EXPECT_EQ(Slice(trace, "sizes()", "intervals(1)"),
                       (Lines{"sizes()", "size 1280x1024 1280 1024 33", "size 1280x720 1280 720 33",
                              "size 320x240 320 240 33", "size 640x480 640 480 33", "intervals(1)"}));
         }},
        {"stream selector on another stream",
         {{"param", "Stream.StreamSelector=1"}},
         true,
         [](const Lines& log, const Lines&, const std::string&) {
             EXPECT_EQ(log.at(3), Logged({{"Stream.StreamSelector.SetValue", "0"},
                                          {"Stream.OutputSize.GetEntries", ""},
                                          {"Stream.EncoderType.GetEntries", ""},
                                          {"Stream.EncoderType.GetValue", ""}}));
         }},
        {"I/O range refused: success without lines",
         {{"set", "refuse=IO.IOSelector.GetMin:busy"}},
         true,
         [](const Lines& log, const Lines& trace, const std::string&) {
             EXPECT_EQ(log.back(), IORange());
             EXPECT_FALSE(Contains(trace, "item 2=2"));
             EXPECT_FALSE(Contains(trace, "item 3=2"));
             EXPECT_EQ(trace.back(), "group4 text (none)");
         }},
        {"the largest line numbers end the line loop",
         {{"range", "IO.IOSelector=4294967294,4294967295"}},
         true,
         [](const Lines& log, const Lines& trace, const std::string&) {
             EXPECT_EQ(log.back(), LineDirection(4294967295u));
             EXPECT_EQ(trace.back(), "group4 text input=4294967294,4294967295");
         }},
        {"maker none reads Basler",
         {{"param", "SysInfo.ManName=none"}, {"param", "SysInfo.ModelName=BIP2-D1920c"}},
         true,
         [](const Lines&, const Lines& trace, const std::string&) {
             EXPECT_EQ(trace.at(0), "name Basler BIP2-D1920c");
         }},
        {"other maker and empty firmware",
         {{"param", "SysInfo.ManName=Acme"}, {"param", "SysInfo.FirmwareVersion="}},
         true,
         [](const Lines&, const Lines& trace, const std::string&) {
             EXPECT_EQ(trace.at(0), "name Acme BIP2-1280c-dn");
             EXPECT_TRUE(Contains(trace, "group2 text (none)"));
         }},
        {"empty model fails before anything is written",
         {{"param", "SysInfo.ModelName="}},
         false,
         [](const Lines& log, const Lines& trace, const std::string&) {
             EXPECT_EQ(log, (Lines{Status("Status"), SystemInfo()}));
             EXPECT_TRUE(trace.empty());
         }},
        {"stream request failing after the switch: switched back",
         {{"set", "refuse=Stream.EncoderType.GetValue:busy"}},
         false,
         [](const Lines& log, const Lines&, const std::string& mode) {
             EXPECT_EQ(log, (Lines{Status("Status"), SystemInfo(), StreamCapabilities(true), SetMode("Normal")}));
             EXPECT_EQ(mode, "Normal");
         }},
    };
    for (const CameraCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto cam = CamSim().NewCamera();
        ASSERT_TRUE(cam);
        camera.emplace(std::move(*cam));
        for (const auto& step : c.setup) {
            const std::string command = step.first;
            const bool ok = command == "param"     ? camera->Param(step.second)
                            : command == "entries" ? camera->Entries(step.second)
                            : command == "range"   ? camera->Range(step.second)
                                                   : camera->Set(step.second);
            ASSERT_TRUE(ok) << step.second;
        }
        TestCapabilityCallback local;
        TestCapabilityResults sink;
        IIPCapabilityQuery* query = exports.create(&local, 1);
        ASSERT_NE(query, nullptr);
        ASSERT_EQ(query->Start("127.0.0.1", camera->port, "", "", &sink), 1);
        ASSERT_TRUE(local.Wait(1, kBound));
        exports.destroy(query);
        const auto outcome = local.Outcomes().at(0);
        if (c.completes) {
            EXPECT_EQ(outcome.kind, CapabilityOutcome::Completed) << outcome.message;
        } else {
            EXPECT_EQ(outcome.kind, CapabilityOutcome::Failed);
            EXPECT_EQ(outcome.code, 3);
            EXPECT_EQ(outcome.message, kFetchFailed);
        }
        c.check(camera->Log(), sink.Trace(), Mode());
    }
}
