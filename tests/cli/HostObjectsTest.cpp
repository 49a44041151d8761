#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../../tools/halvencap/ChannelCallback.h"
#include "../../tools/halvencap/Console.h"
#include "../../tools/halvencap/DebugSink.h"
#include "../../tools/halvencap/HostConfig.h"
#include "../../tools/halvencap/HostFrame.h"
#include "../../tools/halvencap/IoCallback.h"
#include "../../tools/halvencap/Options.h"

using namespace zentavo;
using namespace zentavo::cli;

namespace {

// A log record as the driver hands it to the sink.
class Record : public ipcapture::CDebugInfoIf {
public:
    Record(uint8_t level, const char* text) : m_level(level), m_text(text) {}
    void* DeletingDestructor(unsigned) override { return this; }
    uint8_t GetLevel() override { return m_level; }
    const char* GetText() override { return m_text; }

private:
    uint8_t m_level;
    const char* m_text;
};

// Captures what a Console writes.
class Capture {
public:
    Capture() : m_id(NextId()), m_out(Open(m_id, "out")), m_err(Open(m_id, "err")) {}
    ~Capture() {
        std::fclose(m_out);
        std::fclose(m_err);
        std::error_code ec;
        std::filesystem::remove(Path(m_id, "out"), ec);
        std::filesystem::remove(Path(m_id, "err"), ec);
    }
    std::FILE* Out() { return m_out; }
    std::FILE* Err() { return m_err; }
    static std::string Text(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fseek(f, 0, SEEK_END);
        return text;
    }

private:
    // Files in the temporary directory: tmpfile() wants the root of the
    // drive on Windows, which an ordinary user may not write to.
    // Test runs of several builds may share the temporary directory.
    static std::string RunTag() {
        static const std::string tag =
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        return tag;
    }
    static int NextId() {
        static int next = 0;
        return ++next;
    }
    static std::string Path(int id, const char* which) {
        return (std::filesystem::temp_directory_path() /
                ("halvencap-cli-console-" + RunTag() + "-" + std::to_string(id) + "-" + which))
            .string();
    }
    static std::FILE* Open(int id, const char* which) {
        std::FILE* f = std::fopen(Path(id, which).c_str(), "w+b");
        EXPECT_NE(f, nullptr);
        return f;
    }

    int m_id;
    std::FILE* m_out;
    std::FILE* m_err;
};

Options IoOptions() {
    const ParseOutcome r = ParseCommandLine({"io", "--address", "192.0.2.7", "--port", "8080", "--user", "u",
                                            "--password", "p", "--io-lines", "input=0,1,5;output=2"});
    EXPECT_TRUE(r.ok) << r.error;
    return r.options;
}

}  // namespace

TEST(CliHostObjects, DeviceConfigCarriesTheCommandLine) {
    Options o = IoOptions();
    o.format = VideoFormat::Mpeg4;
    DeviceConfig config(o);
    ipcapture::IDeviceConfig& c = config;
    EXPECT_STREQ(c.GetConnectionSettings()->GetAddress(), "192.0.2.7");
    EXPECT_EQ(c.GetConnectionSettings()->GetPort(), 8080);
    EXPECT_EQ(c.GetConnectionSettings()->GetVideoFormat(), 2);
    EXPECT_STREQ(c.GetConnectionSettings()->GetUserName(), "u");
    EXPECT_STREQ(c.GetConnectionSettings()->GetPassword(), "p");
    EXPECT_EQ(c.GetDeviceDescription()->GetChannelCount(), 1u);
    EXPECT_EQ(c.GetDeviceDescription()->GetInputCount(), 3u);
    EXPECT_EQ(c.GetDeviceDescription()->GetOutputCount(), 1u);
    EXPECT_NE(c.GetDeviceDescription()->GetModel(), nullptr);
    // The driver asks from 1 upwards until it gets null.
    EXPECT_EQ(c.GetParameter(0), nullptr);
    EXPECT_STREQ(c.GetParameter(1), "1");
    EXPECT_STREQ(c.GetParameter(2), "(none)");
    EXPECT_STREQ(c.GetParameter(3), "(none)");
    EXPECT_STREQ(c.GetParameter(4), "input=0,1,5;output=2");
    EXPECT_EQ(c.GetParameter(5), nullptr);
    EXPECT_EQ(c.GetParameter(-1), nullptr);
}

TEST(CliHostObjects, ChannelConfigCarriesTheStreamSettings) {
    const ParseOutcome r = ParseCommandLine(
        {"record", "--address", "a", "--out", "d", "--size", "1280x720", "--interval", "200", "--quality", "33"});
    ASSERT_TRUE(r.ok);
    ChannelConfig config(r.options);
    ipcapture::IChannelConfig& c = config;
    EXPECT_EQ(c.GetPicturePart()->GetPictureSize()->GetWidth(), 1280);
    EXPECT_EQ(c.GetPicturePart()->GetPictureSize()->GetHeight(), 720);
    EXPECT_EQ(c.GetStreamPart()->GetFrameInterval(), 200);
    EXPECT_EQ(c.GetStreamPart()->GetQuality(), 33);
    EXPECT_EQ(c.GetStreamPart()->GetCompanionWanted(), 0);
}

TEST(CliHostObjects, FrameFactoryBoundsAndReleases) {
    FrameFactory factory;
    ipcapture::IFrameFactory& f = factory;
    EXPECT_EQ(f.CreateFrame(CODE_JPEG, 0, "x"), nullptr);
    EXPECT_EQ(f.CreateFrame(CODE_JPEG, FrameFactory::MAX_CAPACITY + 1, "x"), nullptr);
    ipcapture::IHostFrame* frame = f.CreateFrame(CODE_JPEG, 16, "x");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(factory.Outstanding(), 1u);
    HostFrame* ours = factory.Find(frame);
    ASSERT_NE(ours, nullptr);
    // A size beyond the buffer is never believed.
    frame->SetDataSize(17);
    EXPECT_EQ(ours->Size(), 16u);
    f.ReleaseFrame(frame);
    EXPECT_EQ(factory.Outstanding(), 0u);
    EXPECT_EQ(factory.Find(frame), nullptr);
    f.ReleaseFrame(frame);  // a second release is ignored
    HostFrame stranger(4, CODE_JPEG);
    f.ReleaseFrame(&stranger);  // so is a frame the factory never made
    EXPECT_EQ(factory.Find(&stranger), nullptr);
}

TEST(CliHostObjects, ChannelCallbackWritesFramesOfItsFactoryOnly) {
    const std::string dir =
        (std::filesystem::temp_directory_path() /
         ("halvencap-cli-callback-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
            .string();
    std::filesystem::remove_all(dir);
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir, error)) << error;
    FrameFactory factory;
    ChannelCallback callback(factory, recorder);
    ipcapture::IChannelCallback& cb = callback;

    ipcapture::IHostFrame* frame = factory.CreateFrame(CODE_JPEG, 8, "Halvencap");
    ASSERT_NE(frame, nullptr);
    std::memcpy(frame->GetDataArea(), "JPEGDATA", 8);
    frame->SetWidth(320);
    frame->SetHeight(240);
    frame->SetDataSize(8);
    frame->SetCode(CODE_JPEG);
    const SYSTEMTIME t{2026, 1, 4, 2, 3, 4, 5, 6};
    frame->SetCaptureTime(&t);
    EXPECT_TRUE(cb.OnFrame(frame));

    ipcapture::IHostFrame* empty = factory.CreateFrame(CODE_JPEG, 8, "Halvencap");
    EXPECT_FALSE(cb.OnFrame(empty));
    HostFrame stranger(8, CODE_JPEG);
    stranger.SetDataSize(8);
    EXPECT_FALSE(cb.OnFrame(&stranger));
    EXPECT_FALSE(cb.OnFrame(nullptr));
    factory.ReleaseFrame(frame);
    factory.ReleaseFrame(empty);
    cb.OnStreamLost();
    recorder.Close();

    EXPECT_EQ(callback.Offered(), 4u);
    EXPECT_EQ(callback.Refused(), 3u);
    EXPECT_EQ(callback.Lost(), 1u);
    EXPECT_EQ(recorder.Stats().frames, 1u);
    EXPECT_EQ(recorder.Stats().lastWidth, 320u);
    std::stringstream s;
    {
        std::ifstream in(dir + "/index.csv");
        s << in.rdbuf();
    }
    EXPECT_NE(s.str().find("2026-01-02T03:04:05.006Z,8,JPEG,1,video.mjpeg,0,320,240"), std::string::npos) << s.str();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

TEST(CliHostObjects, DebugSinkFiltersShowsLevelsAndNoticesRefusals) {
    Capture capture;
    Console console(capture.Out(), capture.Err(), false);
    DebugSink sink(console, LOG_SHOW_WARNING);
    ipcapture::IDebugSink& s = sink;
    Record info(3, "zentavo::X: camera is online");
    Record error(1, "zentavo::HUtils::RequestGetRD: device a:80 does not process request \"/x\", status code = 401");
    Record multi(2, "first\r\nsecond");
    s.OnDebugMessage(&info);
    s.OnDebugMessage(&error);
    s.OnDebugMessage(&multi);
    s.OnDebugMessage(nullptr);
    const std::string err = Capture::Text(capture.Err());
    EXPECT_EQ(err.find("online"), std::string::npos) << err;
    EXPECT_NE(err.find("[error] zentavo::HUtils::RequestGetRD"), std::string::npos) << err;
    EXPECT_NE(err.find("[warning] first  second\n"), std::string::npos) << err;
    EXPECT_TRUE(Capture::Text(capture.Out()).empty());
    EXPECT_TRUE(sink.Refused());
    EXPECT_EQ(sink.Errors(), 1u);
    EXPECT_EQ(sink.LastLine(), "first  second");

    EXPECT_TRUE(IsRefusalLine("... status code = 403"));
    EXPECT_FALSE(IsRefusalLine("... status code = 404"));
    EXPECT_FALSE(IsRefusalLine("cannot send request"));
}

TEST(CliHostObjects, IoCallbackPrintsChangesAndFailures) {
    Capture capture;
    Console console(capture.Out(), capture.Err(), false);
    const Options o = IoOptions();
    IoCallback callback(console, o.ioLines);
    ipcapture::IIOCallback& cb = callback;
    cb.OnInputChanged(2, 2);
    cb.OnInputChanged(0, 1);
    cb.OnInputChanged(9, 0);
    cb.OnIOFailure();
    const std::string out = Capture::Text(capture.Out());
    EXPECT_NE(out.find("input 2 (camera line 5): active"), std::string::npos) << out;
    EXPECT_NE(out.find("input 0 (camera line 0): inactive"), std::string::npos) << out;
    EXPECT_NE(out.find("input 9: unknown"), std::string::npos) << out;
    EXPECT_NE(Capture::Text(capture.Err()).find("I/O failure #1"), std::string::npos);
    EXPECT_EQ(callback.Failures(), 1u);
    EXPECT_EQ(callback.Changes(), 3u);
    EXPECT_EQ(callback.Inputs().at(2), 2u);
    EXPECT_STREQ(InputStateName(7), "invalid");
}

TEST(CliHostObjects, ConsoleStatusOnATerminalIsClearedBeforeOtherLines) {
    Capture capture;
    Console console(capture.Out(), capture.Err(), true);
    console.Status("status one that is long");
    console.Status("short");
    console.Print("result");
    console.Status(std::string(200, 'x'));
    console.EndStatus();
    const std::string out = Capture::Text(capture.Out());
    EXPECT_NE(out.find("\rstatus one that is long"), std::string::npos);
    // The shorter status blanks what is left of the longer one.
    EXPECT_NE(out.find("\rshort" + std::string(18, ' ') + "\r"), std::string::npos);
    EXPECT_NE(out.find("\rresult\n"), std::string::npos);
    EXPECT_NE(out.find(std::string(Console::STATUS_WIDTH, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(out.find(std::string(Console::STATUS_WIDTH + 1, 'x')), std::string::npos);

    Capture plain;
    Console log(plain.Out(), plain.Err(), false);
    log.Status("a\nb");
    log.Print("c");
    EXPECT_EQ(Capture::Text(plain.Out()), "a b\nc\n");
}
