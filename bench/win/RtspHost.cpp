// A minimal recording-server stand-in for CPU measurements of the RTSP
// channels: loads Halvencap.dll by path, opens one channel of the given
// video format (3 H.264, 2 MPEG-4) against a camera whose Streaming.RTSPPort
// names the RTSP server, and counts (then discards) the frames, like
// "ffmpeg -c copy -f null".
//
//   bench_RtspHost.exe <camera port> <seconds> [format width height interval user password]
//
// Once a second it prints "t=<ms since start> frames=<n> keys=<n> bytes=<n>
// lost=<n>" (flushed), so a caller can measure over a window of its own
// choosing and leave the start-up out. Seconds 0: runs until its standard
// input ends (the caller decides when the window is over). Camera port 0
// loads the DLL and creates a driver but opens nothing: the idle cost of the
// host under Wine, as a baseline.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/DebugInfo.h"
#include "host/DriverInterfaces.h"
#include "host/HostContract.h"

using namespace zentavo::ipcapture;

namespace {

// Frame codes of key frames, as the driver hands them out.
const uint32_t kH264Key = 0x34363248, kMpeg4Key = 0x58564944;

class Sink : public IDebugSink {
public:
    void OnDebugMessage(zentavo::ipcapture::CDebugInfoIf*) override {}
};

class Frame : public IHostFrame {
public:
    explicit Frame(uint32_t capacity) : data(capacity) {}
    uint8_t* GetDataArea() override { return data.data(); }
    void SetDataSize(uint32_t size) override { bytes = size; }
    void SetCaptureTime(const SYSTEMTIME*) override {}
    void SetCode(uint32_t c) override { code = c; }
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetResolutionClass(uint32_t) override {}
    std::vector<uint8_t> data;
    uint32_t bytes = 0;
    uint32_t code = 0;
};

class Factory : public IFrameFactory {
public:
    IHostFrame* CreateFrame(uint32_t, uint32_t capacity, const char*) override { return new Frame(capacity); }
    void ReleaseFrame(IHostFrame* frame) override { delete static_cast<Frame*>(frame); }
};

class Config : public IDeviceConfig, public IDeviceDescription, public IConnectionSettings {
public:
    IDeviceDescription* GetDeviceDescription() override { return this; }
    IConnectionSettings* GetConnectionSettings() override { return this; }
    const char* GetParameter(int32_t index) override { return index == 1 ? "1" : nullptr; }
    const char* GetModel() override { return "bench"; }
    uint32_t GetChannelCount() override { return 1; }
    uint32_t GetInputCount() override { return 0; }
    uint32_t GetOutputCount() override { return 0; }
    const char* GetAddress() override { return "127.0.0.1"; }
    uint16_t GetPort() override { return port; }
    int32_t GetVideoFormat() override { return format; }
    const char* GetUserName() override { return user.c_str(); }
    const char* GetPassword() override { return password.c_str(); }
    uint16_t port = 0;
    int32_t format = 3;
    std::string user, password;
};

class Channel : public IChannelConfig, public IPicturePart, public IPictureSize, public IStreamPart {
public:
    IPicturePart* GetPicturePart() override { return this; }
    IStreamPart* GetStreamPart() override { return this; }
    IPictureSize* GetPictureSize() override { return this; }
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }
    uint16_t GetFrameInterval() override { return interval; }
    uint16_t GetQuality() override { return 75; }
    int32_t GetCompanionWanted() override { return 0; }
    uint16_t width = 1920, height = 1080, interval = 33;
};

class Callback : public IChannelCallback {
public:
    bool OnFrame(IHostFrame* frame) override {
        const auto* f = static_cast<Frame*>(frame);
        if (f->code == kH264Key || f->code == kMpeg4Key) keys++;
        bytes += f->bytes;
        frames++;
        return true;
    }
    void OnStreamLost() override { lost++; }
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> keys{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> lost{0};
};

DWORD WINAPI WaitForInputEnd(void* stop) {
    while (std::getchar() != EOF) {
    }
    SetEvent(static_cast<HANDLE>(stop));
    return 0;
}

void Report(DWORD start, const Callback& callback) {
    std::printf("t=%lu frames=%llu keys=%llu bytes=%llu lost=%llu\n", static_cast<unsigned long>(GetTickCount() - start),
                static_cast<unsigned long long>(callback.frames.load()),
                static_cast<unsigned long long>(callback.keys.load()),
                static_cast<unsigned long long>(callback.bytes.load()),
                static_cast<unsigned long long>(callback.lost.load()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <camera port> <seconds> [format width height interval user password]\n",
                     argv[0]);
        return 2;
    }
    const DWORD start = GetTickCount();
    Config config;
    config.port = static_cast<uint16_t>(std::atoi(argv[1]));
    const int seconds = std::atoi(argv[2]);
    Channel channel;
    if (argc >= 4) config.format = std::atoi(argv[3]);
    if (argc >= 7) {
        channel.width = static_cast<uint16_t>(std::atoi(argv[4]));
        channel.height = static_cast<uint16_t>(std::atoi(argv[5]));
        channel.interval = static_cast<uint16_t>(std::atoi(argv[6]));
    }
    if (argc >= 9) {
        config.user = argv[7];
        config.password = argv[8];
    }
    HMODULE dll = LoadLibraryA("Halvencap.dll");
    if (dll == nullptr) return 1;
    auto create = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "CreateIPCaptureEx3")));
    auto destroy = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(dll, "DeleteIPCaptureEx3")));
    if (create == nullptr || destroy == nullptr) return 1;
    auto* driver = static_cast<IIPCaptureDriverEx5*>(create());
    Sink sink;
    Factory factory;
    Callback callback;
    const bool open = config.port != 0;
    if (open && (!driver->Open(&sink, &factory, &config) ||
                 !driver->GetVideoCapture()->StartChannel(0, &callback, &channel))) {
        destroy(driver);
        return 4;
    }
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (seconds == 0) CloseHandle(CreateThread(nullptr, 0, WaitForInputEnd, stop, 0, nullptr));
    for (int s = 0; seconds == 0 || s < seconds; ++s) {
        if (WaitForSingleObject(stop, 1000) == WAIT_OBJECT_0) break;
        Report(start, callback);
    }
    if (open) driver->GetVideoCapture()->StopChannel(0);
    destroy(driver);
    Report(start, callback);
    FreeLibrary(dll);
    return 0;
}
