// A minimal recording-server stand-in for CPU measurements: loads
// Halvencap.dll by path, opens one driver with one Motion JPEG channel per
// camera port given and counts (then discards) the frames for a given time,
// like "ffmpeg -c copy -f null". Says "loaded" before the first driver is
// created, "streaming <n>" once the channels run
// and "stopping" before they stop; then one line per channel and the totals.
//   bench_MjpegHost.exe <port>[,<port>...] <seconds> [width height interval]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/DebugInfo.h"
#include "host/DriverInterfaces.h"
#include "host/HostContract.h"

using namespace zentavo::ipcapture;

namespace {

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
    void SetCode(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetResolutionClass(uint32_t) override {}
    std::vector<uint8_t> data;
    uint32_t bytes = 0;
};

class Factory : public IFrameFactory {
public:
    IHostFrame* CreateFrame(uint32_t, uint32_t capacity, const char*) override { return new Frame(capacity); }
    void ReleaseFrame(IHostFrame* frame) override { delete static_cast<Frame*>(frame); }
};

class Config : public IDeviceConfig, public IDeviceDescription, public IConnectionSettings {
public:
    explicit Config(uint16_t p) : port(p) {}
    IDeviceDescription* GetDeviceDescription() override { return this; }
    IConnectionSettings* GetConnectionSettings() override { return this; }
    const char* GetParameter(int32_t index) override { return index == 1 ? "1" : nullptr; }
    const char* GetModel() override { return "bench"; }
    uint32_t GetChannelCount() override { return 1; }
    uint32_t GetInputCount() override { return 0; }
    uint32_t GetOutputCount() override { return 0; }
    const char* GetAddress() override { return "127.0.0.1"; }
    uint16_t GetPort() override { return port; }
    int32_t GetVideoFormat() override { return 1; }
    const char* GetUserName() override { return ""; }
    const char* GetPassword() override { return ""; }
    uint16_t port;
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
    uint16_t width = 1280, height = 720, interval = 33;
};

class Callback : public IChannelCallback {
public:
    bool OnFrame(IHostFrame* frame) override {
        frames++;
        bytes += static_cast<Frame*>(frame)->bytes;
        return true;
    }
    void OnStreamLost() override {}
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <port>[,<port>...] <seconds> [width height interval]\n", argv[0]);
        return 2;
    }
    std::vector<uint16_t> ports;
    for (const char* p = argv[1]; *p != '\0';) {
        char* end = nullptr;
        ports.push_back(static_cast<uint16_t>(std::strtoul(p, &end, 10)));
        if (end == p) break;
        p = *end == ',' ? end + 1 : end;
    }
    const int seconds = std::atoi(argv[2]);
    Channel channel;
    if (argc >= 6) {
        channel.width = static_cast<uint16_t>(std::atoi(argv[3]));
        channel.height = static_cast<uint16_t>(std::atoi(argv[4]));
        channel.interval = static_cast<uint16_t>(std::atoi(argv[5]));
    }
    HMODULE dll = LoadLibraryA("Halvencap.dll");
    if (dll == nullptr) return 1;
    auto create = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "CreateIPCaptureEx3")));
    auto destroy = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(dll, "DeleteIPCaptureEx3")));
    // Memory and threads before any driver exists, for per-channel figures.
    std::printf("loaded\n");
    std::fflush(stdout);
    // One driver (one camera) per port, one Motion JPEG channel each, as a
    // recording server with many cameras has them.
    Sink sink;
    Factory factory;
    std::vector<std::unique_ptr<Config>> configs;
    std::vector<std::unique_ptr<Callback>> callbacks;
    std::vector<IIPCaptureDriverEx5*> drivers;
    int result = 0;
    for (uint16_t port : ports) {
        configs.push_back(std::make_unique<Config>(port));
        callbacks.push_back(std::make_unique<Callback>());
        auto* driver = static_cast<IIPCaptureDriverEx5*>(create());
        drivers.push_back(driver);
        if (!driver->Open(&sink, &factory, configs.back().get()) ||
            !driver->GetVideoCapture()->StartChannel(0, callbacks.back().get(), &channel)) {
            result = 4;
            break;
        }
    }
    if (result == 0) {
        // Lines for the benchmark scripts: they sample CPU time, memory and
        // threads at them, so that loading Wine and the DLL is not charged
        // to the streams.
        std::printf("streaming %u\n", static_cast<unsigned>(drivers.size()));
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(seconds) * 1000);
        std::printf("stopping\n");
        std::fflush(stdout);
    }
    uint64_t frames = 0, bytes = 0;
    for (size_t i = 0; i < drivers.size(); ++i) {
        drivers[i]->GetVideoCapture()->StopChannel(0);
        destroy(drivers[i]);
        frames += callbacks[i]->frames.load();
        bytes += callbacks[i]->bytes.load();
        std::printf("channel %u port %u frames %llu\n", static_cast<unsigned>(i), ports[i],
                    static_cast<unsigned long long>(callbacks[i]->frames.load()));
    }
    std::printf("frames %llu bytes %llu\n", static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(bytes));
    FreeLibrary(dll);
    return result;
}
