// A minimal recording-server stand-in for the benchmarks: loads
// Halvencap.dll by path, opens one driver (one camera) per camera port
// given, each with one channel of the given video format (1 Motion JPEG,
// 3 H.264, 2 MPEG-4; an RTSP camera's Streaming.RTSPPort names the RTSP
// server), and counts (then discards) the frames, like
// "ffmpeg -c copy -f null".
//
//   bench_CameraHost.exe <port>[,<port>...] <seconds> [format width height interval [user password]]
//   bench_CameraHost.exe --ceiling <port>[,<port>...] <format width height interval>
//
// Lines for the scripts, flushed as they come:
//   "loaded" before the first driver exists, "streaming <n>" once the
//   channels run, "stopping" before they stop (the scripts sample CPU,
//   memory and threads at them, so that loading Wine and the DLL is not
//   charged to the streams);
//   once a second "t=<ms since start> frames=<n> keys=<n> bytes=<n> lost=<n>",
//   totals over the channels, so a caller can take a window of its own;
//   at the end one line per channel, "channel <i> port <p> frames <n>
//   latency <median ms> <99th percentile ms>" (the latency from the driver's
//   own log line, "-" when it wrote none), then "frames <n> bytes <n>".
// "loaded", "streaming" and "stopping" carry "as=<bytes>", the address
// space in use (committed and reserved) at that point.
// Seconds 0: runs until standard input ends. Port 0: loads the DLL and
// creates a driver but opens nothing (the idle cost of a host under Wine).
//
// --ceiling: starts the channels one after another, each on its own
// camera, until one cannot start: its StartChannel fails, or it writes a
// "could not" line before its first frame. Per channel that streamed:
// "up <n> threads=<n> as=<bytes>"; then "ceiling <channels that streamed>
// threads=<n> as=<bytes> free=<bytes>" and "failure <the driver's line or
// what was seen>". Channels that stream are kept running until the end.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "host/DebugInfo.h"
#include "host/DriverInterfaces.h"
#include "host/HostContract.h"

using namespace zentavo::ipcapture;

namespace {

// Frame codes of key frames, as the driver hands them out.
const uint32_t kH264Key = 0x34363248, kMpeg4Key = 0x58564944;

// Keeps the driver's frame latency line, the only log line the benchmarks read.
class Sink : public IDebugSink {
public:
    void OnDebugMessage(zentavo::ipcapture::CDebugInfoIf* info) override {
        const char* text = info != nullptr ? info->GetText() : nullptr;
        if (text != nullptr) {
            std::lock_guard<std::mutex> lock(mutex);
            if (failure.empty() && std::strstr(text, "could not") != nullptr) failure = text;
            recent.push_back(text);
            if (recent.size() > 8) recent.erase(recent.begin());
        }
        const char* at = text != nullptr ? std::strstr(text, "Frame latency for ") : nullptr;
        if (at == nullptr) return;
        double median = 0, p99 = 0;
        const char* m = std::strstr(at, "median ");
        const char* p = std::strstr(at, "99th percentile ");
        if (m == nullptr || p == nullptr) return;
        median = std::atof(m + 7);
        p99 = std::atof(p + 16);
        std::lock_guard<std::mutex> lock(mutex);
        latency = std::to_string(median) + " " + std::to_string(p99);
    }
    std::mutex mutex;
    std::string latency = "- -";
    std::string failure;  // the first "could not ..." line
    std::vector<std::string> recent;  // the last lines, for a failure without one
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
    int32_t format = 1;
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
    uint16_t width = 1280, height = 720, interval = 33;
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

struct Camera {
    Config config;
    Sink sink;
    Callback callback;
    IIPCaptureDriverEx5* driver = nullptr;
};

DWORD WINAPI WaitForInputEnd(void* stop) {
    while (std::getchar() != EOF) {
    }
    SetEvent(static_cast<HANDLE>(stop));
    return 0;
}

size_t AddressSpaceInUse(size_t* free = nullptr) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t used = 0, unused = 0;
    auto* at = static_cast<const char*>(info.lpMinimumApplicationAddress);
    auto* end = static_cast<const char*>(info.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < end && VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize != 0) {
        if (region.State == MEM_FREE) {
            unused += region.RegionSize;
        } else {
            used += region.RegionSize;
        }
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    if (free != nullptr) *free = unused;
    return used;
}

unsigned ThreadCount() {
    unsigned n = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

void Line(const char* text) {
    std::printf("%s as=%llu\n", text, static_cast<unsigned long long>(AddressSpaceInUse()));
    std::fflush(stdout);
}

void Report(DWORD start, const std::vector<std::unique_ptr<Camera>>& cameras) {
    uint64_t frames = 0, keys = 0, bytes = 0, lost = 0;
    for (const auto& c : cameras) {
        frames += c->callback.frames.load();
        keys += c->callback.keys.load();
        bytes += c->callback.bytes.load();
        lost += c->callback.lost.load();
    }
    std::printf("t=%lu frames=%llu keys=%llu bytes=%llu lost=%llu\n", static_cast<unsigned long>(GetTickCount() - start),
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(keys),
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(lost));
    std::fflush(stdout);
}

}  // namespace

// Starts one channel after another until one cannot start; see the top.
int Ceiling(IIPCaptureDriverEx5* (*create)(), void (*destroy)(void*), const std::vector<uint16_t>& ports,
            int32_t format, Channel& channel) {
    Factory factory;
    std::vector<std::unique_ptr<Camera>> cameras;
    std::string failure = "none: every camera given streamed";
    size_t up = 0;
    for (uint16_t port : ports) {
        cameras.push_back(std::make_unique<Camera>());
        Camera& c = *cameras.back();
        c.config.port = port;
        c.config.format = format;
        c.driver = create();
        if (c.driver == nullptr) {
            failure = "CreateIPCapture gave no driver";
            break;
        }
        if (!c.driver->Open(&c.sink, &factory, &c.config)) {
            failure = "Open failed";
            break;
        }
        const bool started = c.driver->GetVideoCapture()->StartChannel(0, &c.callback, &channel);
        bool streaming = false;
        for (int i = 0; started && i < 600 && !streaming; ++i) {
            {
                std::lock_guard<std::mutex> lock(c.sink.mutex);
                if (!c.sink.failure.empty()) break;
            }
            streaming = c.callback.frames.load() > 0;
            if (!streaming) Sleep(100);
        }
        if (!streaming) {
            std::lock_guard<std::mutex> lock(c.sink.mutex);
            for (const std::string& line : c.sink.recent) std::printf("log %s\n", line.c_str());
            failure = !c.sink.failure.empty() ? c.sink.failure
                      : started               ? std::string("no frame within 60 s")
                                              : std::string("StartChannel failed without a line");
            break;
        }
        ++up;
        std::printf("up %u threads=%u as=%llu\n", static_cast<unsigned>(up), ThreadCount(),
                    static_cast<unsigned long long>(AddressSpaceInUse()));
        std::fflush(stdout);
    }
    size_t free = 0;
    const size_t used = AddressSpaceInUse(&free);
    std::printf("ceiling %u threads=%u as=%llu free=%llu\n", static_cast<unsigned>(up), ThreadCount(),
                static_cast<unsigned long long>(used), static_cast<unsigned long long>(free));
    std::printf("failure %s\n", failure.c_str());
    std::fflush(stdout);
    // The ones that streamed: still streaming?
    Sleep(3000);
    uint64_t before = 0, after = 0;
    for (auto& c : cameras) before += c->callback.frames.load();
    Sleep(3000);
    for (auto& c : cameras) after += c->callback.frames.load();
    std::printf("running frames/s %.1f\n", double(after - before) / 3.0);
    std::fflush(stdout);
    for (auto& c : cameras) {
        if (c->driver == nullptr) continue;
        c->driver->GetVideoCapture()->StopChannel(0);
        destroy(c->driver);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 7 && std::strcmp(argv[1], "--ceiling") == 0) {
        std::vector<uint16_t> ports;
        for (const char* p = argv[2]; *p != '\0';) {
            char* end = nullptr;
            ports.push_back(static_cast<uint16_t>(std::strtoul(p, &end, 10)));
            if (end == p) break;
            p = *end == ',' ? end + 1 : end;
        }
        Channel channel;
        channel.width = static_cast<uint16_t>(std::atoi(argv[4]));
        channel.height = static_cast<uint16_t>(std::atoi(argv[5]));
        channel.interval = static_cast<uint16_t>(std::atoi(argv[6]));
        HMODULE dll = LoadLibraryA("Halvencap.dll");
        if (dll == nullptr) return 1;
        auto create = reinterpret_cast<IIPCaptureDriverEx5* (*)()>(
            reinterpret_cast<void*>(GetProcAddress(dll, "CreateIPCaptureEx3")));
        auto destroy =
            reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(dll, "DeleteIPCaptureEx3")));
        if (create == nullptr || destroy == nullptr) return 1;
        Line("loaded");
        return Ceiling(create, destroy, ports, std::atoi(argv[3]), channel);
    }
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <port>[,<port>...] <seconds> [format width height interval [user password]]\n",
                     argv[0]);
        return 2;
    }
    const DWORD start = GetTickCount();
    std::vector<uint16_t> ports;
    for (const char* p = argv[1]; *p != '\0';) {
        char* end = nullptr;
        ports.push_back(static_cast<uint16_t>(std::strtoul(p, &end, 10)));
        if (end == p) break;
        p = *end == ',' ? end + 1 : end;
    }
    const int seconds = std::atoi(argv[2]);
    Channel channel;
    int32_t format = 1;
    if (argc >= 7) {
        format = std::atoi(argv[3]);
        channel.width = static_cast<uint16_t>(std::atoi(argv[4]));
        channel.height = static_cast<uint16_t>(std::atoi(argv[5]));
        channel.interval = static_cast<uint16_t>(std::atoi(argv[6]));
    }
    HMODULE dll = LoadLibraryA("Halvencap.dll");
    if (dll == nullptr) return 1;
    auto create = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "CreateIPCaptureEx3")));
    auto destroy = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(dll, "DeleteIPCaptureEx3")));
    if (create == nullptr || destroy == nullptr) return 1;
    Line("loaded");
    Factory factory;
    std::vector<std::unique_ptr<Camera>> cameras;
    int result = 0;
    for (uint16_t port : ports) {
        cameras.push_back(std::make_unique<Camera>());
        Camera& c = *cameras.back();
        c.config.port = port;
        c.config.format = format;
        if (argc >= 9) {
            c.config.user = argv[7];
            c.config.password = argv[8];
        }
        c.driver = static_cast<IIPCaptureDriverEx5*>(create());
        if (port != 0 && (!c.driver->Open(&c.sink, &factory, &c.config) ||
                          !c.driver->GetVideoCapture()->StartChannel(0, &c.callback, &channel))) {
            result = 4;
            break;
        }
    }
    if (result == 0) {
        std::printf("streaming %u as=%llu\n", static_cast<unsigned>(cameras.size()),
                    static_cast<unsigned long long>(AddressSpaceInUse()));
        std::fflush(stdout);
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (seconds == 0) CloseHandle(CreateThread(nullptr, 0, WaitForInputEnd, stop, 0, nullptr));
        for (int s = 0; seconds == 0 || s < seconds; ++s) {
            if (WaitForSingleObject(stop, 1000) == WAIT_OBJECT_0) break;
            Report(start, cameras);
        }
        Line("stopping");
    }
    uint64_t frames = 0, bytes = 0;
    for (size_t i = 0; i < cameras.size(); ++i) {
        Camera& c = *cameras[i];
        if (c.config.port != 0) c.driver->GetVideoCapture()->StopChannel(0);
        destroy(c.driver);
        frames += c.callback.frames.load();
        bytes += c.callback.bytes.load();
        std::lock_guard<std::mutex> lock(c.sink.mutex);
        std::printf("channel %u port %u frames %llu latency %s\n", static_cast<unsigned>(i), ports[i],
                    static_cast<unsigned long long>(c.callback.frames.load()), c.sink.latency.c_str());
    }
    Report(start, cameras);
    std::printf("frames %llu bytes %llu\n", static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(bytes));
    std::fflush(stdout);
    FreeLibrary(dll);
    return result;
}
