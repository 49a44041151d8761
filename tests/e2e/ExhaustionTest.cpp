// A host process that runs out of threads while it starts channels: the
// channel that cannot get its threads fails cleanly (one line naming the
// thread and the device, state "not streaming", nothing left behind, its
// retries spaced out), the channels already running keep their frame rate,
// and after everything stops the process is back where it began and the
// same channels start again.
//
// The process is filled with the driver's own thread limit for tests
// (HALVENCAP_TEST_THREAD_LIMIT), so the failure comes at the same point on
// every machine and in both builds, and the test host itself never runs out.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capability/QueryExports.h"
#include "support/CamSim.h"
#include "support/CapabilityHost.h"
#include "support/DriverLibrary.h"
#include "support/ProcessResources.h"
#include "support/RtspServer.h"
#include "support/TestFrameFactory.h"
#include "support/TestHost.h"

using namespace std::chrono_literals;
using namespace halvencap_test;

namespace {

// Room for a few channels of each kind: Motion JPEG takes up to three
// driver threads (capture, stream reader, the web interface's data
// waiter), H.264 six (capture, RTSP, two UDP readers, RTP queue, RTCP).
// The first channels fill the limit; then one of each kind fails.
const char* const kThreadLimit = "19";
const size_t kMaxChannels = 10;
const auto kWindow = 4s;
const auto kFailureWindow = 12s;

enum Kind { MJPEG, H264 };

struct Slot {
    Kind kind;
    std::optional<Camera> camera;
    TestDeviceConfig config;
    TestChannelConfig channelConfig;
    TestChannelCallback callback;
    DriverPtr driver{nullptr, DriverDeleter{nullptr}};
    bool started = false;
    bool failed = false;
    std::string failureLine;

    std::string Device() const { return "127.0.0.1:" + std::to_string(camera->port); }
    std::string Name() const { return std::string(kind == MJPEG ? "mjpeg" : "h264") + ":" + std::to_string(camera->port); }
};

class LimitGuard {
public:
    explicit LimitGuard(const char* value) { SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", value); }
    ~LimitGuard() { Clear(); }
    void Clear() { SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", nullptr); }
};

double Rate(size_t frames, std::chrono::steady_clock::duration span) {
    return double(frames) / std::chrono::duration<double>(span).count();
}

// What the process writes to the system's debug output while it lives: each
// line is raised as an exception that a vectored handler sees first.
class DebugOutputTrap {
public:
    DebugOutputTrap() { s_lines = &m_lines; m_handler = AddVectoredExceptionHandler(1, &Handler); }
    ~DebugOutputTrap() {
        RemoveVectoredExceptionHandler(m_handler);
        s_lines = nullptr;
    }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    static constexpr DWORD kDebugPrint = 0x40010006;  // DBG_PRINTEXCEPTION_C
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* record = info->ExceptionRecord;
        if (record->ExceptionCode == kDebugPrint && record->NumberParameters >= 2 && s_lines != nullptr) {
            std::string line(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            s_lines->push_back(line);
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static inline std::vector<std::string>* s_lines = nullptr;
    std::vector<std::string> m_lines;
    void* m_handler;
};

std::string Mib(size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
    return text;
}

class Exhaustion : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CamSim::Available()) GTEST_SKIP() << "camera simulator not running (HALVENCAP_CAMSIM unset)";
        if (!RtspServer::Available()) GTEST_SKIP() << "RTSP server not running (HALVENCAP_RTSPSRV unset)";
        auto srv = RtspServer::Create("codec=h264&auth=none");
        ASSERT_TRUE(srv);
        server.emplace(std::move(*srv));
        ASSERT_TRUE(library.Loaded());
    }

    std::unique_ptr<Slot> MakeSlot(Kind kind) {
        auto slot = std::make_unique<Slot>();
        slot->kind = kind;
        auto cam = CamSim().NewCamera("width=640&height=480&fps=10");
        if (!cam) return nullptr;
        slot->camera.emplace(std::move(*cam));
        if (kind == H264 &&
            !slot->camera->Param("Streaming.RTSPPort=" + std::to_string(server->port) + "&Streaming.Enabled=0"))
            return nullptr;
        slot->config.port = slot->camera->port;
        slot->config.videoFormat = kind == MJPEG ? 1 : 3;
        slot->channelConfig.frameIntervalMs = kind == MJPEG ? 100 : 40;
        return slot;
    }

    bool Open(Slot& slot) {
        slot.driver = DriverPtr(library.Create(), DriverDeleter{&library});
        return slot.driver && slot.driver->Open(&sink, &factory, &slot.config);
    }

    // Starts the channel and waits until it streams or says why it cannot.
    void Start(Slot& slot) {
        const bool accepted = slot.driver->GetVideoCaptureEx()->StartChannel(0, &slot.callback, &slot.channelConfig);
        slot.started = true;
        if (!accepted) {
            slot.failed = true;
            auto line = sink.Find("could not start the video capture thread");
            if (line) slot.failureLine = line->text;
            return;
        }
        const std::string needle = "for device " + slot.Device();
        const auto deadline = std::chrono::steady_clock::now() + 40s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (slot.callback.WaitFrames(5, 200ms)) return;
            for (const auto& line : sink.Lines()) {
                if (line.text.find("could not start thread") != std::string::npos &&
                    line.text.find(needle) != std::string::npos) {
                    slot.failed = true;
                    slot.failureLine = line.text;
                    return;
                }
            }
        }
    }

    size_t FailureLines(const Slot& slot) {
        const std::string needle = "for device " + slot.Device();
        size_t n = 0;
        for (const auto& line : sink.Lines())
            if (line.text.find("could not start thread") != std::string::npos &&
                line.text.find(needle) != std::string::npos)
                ++n;
        return n;
    }

    int32_t State(Slot& slot) {
        int32_t state = -1, error = 0;
        char text[16];
        if (!slot.driver->GetVideoCaptureEx()->GetChannelState(0, &state, &error, text, sizeof text)) return -1;
        return state;
    }

    // Frames per second of each running channel over the window.
    std::vector<double> Rates(const std::vector<Slot*>& running, std::chrono::steady_clock::duration window) {
        std::vector<size_t> before;
        for (Slot* s : running) before.push_back(s->callback.Frames());
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(window);
        const auto span = std::chrono::steady_clock::now() - start;
        std::vector<double> rates;
        for (size_t i = 0; i < running.size(); ++i)
            rates.push_back(Rate(running[i]->callback.Frames() - before[i], span));
        return rates;
    }

    void StopAll() {
        for (auto& slot : slots) {
            if (slot->driver) slot->driver->GetVideoCaptureEx()->StopChannel(0);
            slot->driver.reset();
        }
    }

    // The driver's live threads as its own limit counts them (a thread
    // killed earlier in this process stays counted): one less than the
    // lowest limit under which a capability probe, which ends at once on a
    // refused address, still gets its thread.
    long DriverThreads() {
        QueryExports exports(library);
        for (long limit = 1; limit < 64; ++limit) {
            TestCapabilityCallback callback;
            TestCapabilityResults results;
            zentavo::ipcapture::IIPCapabilityQuery* query = exports.create(&callback, 0);
            if (query == nullptr) return -1;
            LimitGuard guard(std::to_string(limit).c_str());
            const int32_t started = query->Start("refused:address", 80, "", "", &results);
            guard.Clear();
            if (started == 1) callback.Wait(1, 30s);
            exports.destroy(query);
            if (started == 1) return limit - 1;
        }
        return -1;
    }

    std::optional<RtspServer> server;
    DriverLibrary library;
    TestDebugSink sink;
    TestFrameFactory factory;
    std::vector<std::unique_ptr<Slot>> slots;
};

}  // namespace

TEST_F(Exhaustion, AChannelWithoutThreadsFailsCleanlyAndTheOthersKeepTheirRate) {
    const Resources atStart = Measure();
    LimitGuard limit(kThreadLimit);

    // Alternating kinds until one cannot start; then one more of the other
    // kind, so both ways of failing are met.
    Slot* firstFailure = nullptr;
    Slot* secondFailure = nullptr;
    for (size_t i = 0; i < kMaxChannels && secondFailure == nullptr; ++i) {
        Kind kind = i % 2 == 0 ? MJPEG : H264;
        if (firstFailure != nullptr) kind = firstFailure->kind == MJPEG ? H264 : MJPEG;
        auto slot = MakeSlot(kind);
        ASSERT_TRUE(slot);
        ASSERT_TRUE(Open(*slot)) << slot->Name();
        Start(*slot);
        Slot* s = slot.get();
        slots.push_back(std::move(slot));
        if (!s->failed) continue;
        if (firstFailure == nullptr) {
            firstFailure = s;
        } else {
            secondFailure = s;
        }
    }
    ASSERT_NE(firstFailure, nullptr) << "no channel failed under the thread limit";
    ASSERT_NE(secondFailure, nullptr) << "only one kind failed under the thread limit";
    std::vector<Slot*> running;
    for (auto& s : slots)
        if (!s->failed) running.push_back(s.get());
    ASSERT_GE(running.size(), 2u);

    const std::vector<double> before = Rates(running, kWindow);
    const Resources full = Measure();

    // The failed H.264 channel keeps trying to build its stream, further and
    // further apart; each attempt gives back what it made.
    Slot* h264Failure = firstFailure->kind == H264 ? firstFailure : secondFailure;
    Slot* mjpegFailure = firstFailure->kind == MJPEG ? firstFailure : secondFailure;
    const size_t linesBefore = FailureLines(*h264Failure);
    const std::vector<double> during = Rates(running, kFailureWindow);
    const size_t retries = FailureLines(*h264Failure) - linesBefore;
    const Resources afterRetries = Measure();

    for (Slot* failed : {h264Failure, mjpegFailure}) {
        EXPECT_EQ(State(*failed), 2) << failed->Name();
        EXPECT_EQ(failed->callback.Frames(), 0u) << failed->Name();
        EXPECT_TRUE(failed->driver->GetVideoCaptureEx()->StopChannel(0)) << failed->Name();
    }
    const std::vector<double> after = Rates(running, kWindow);

    // Which of its threads the Motion JPEG channel misses depends on how
    // many the channels before it took; the line names it either way.
    const std::string& mjpegLine = mjpegFailure->failureLine;
    EXPECT_TRUE(mjpegLine.find("zentavo::CBaseCameraChannel::StartCaptureThread: could not start the "
                               "video capture thread for camera 127.0.0.1: ") != std::string::npos ||
                mjpegLine.find(": could not start thread \"HTTP ") != std::string::npos)
        << mjpegLine;
    EXPECT_NE(mjpegLine.find("too many threads"), std::string::npos) << mjpegLine;
    EXPECT_NE(h264Failure->failureLine.find("zentavo::CBaseThread::StartThread: could not start thread \""),
              std::string::npos)
        << h264Failure->failureLine;
    EXPECT_NE(h264Failure->failureLine.find("too many threads"), std::string::npos) << h264Failure->failureLine;
    // A retry a second would be a dozen lines in this window.
    EXPECT_GE(retries, 1u);
    EXPECT_LE(retries, 6u);
    EXPECT_LE(afterRetries.threads, full.threads + 2) << "threads left behind by failed attempts";

    for (size_t i = 0; i < running.size(); ++i) {
        EXPECT_GE(during[i], before[i] * 0.5) << running[i]->Name() << " slowed while another channel failed";
        EXPECT_GE(after[i], before[i] * 0.5) << running[i]->Name();
        EXPECT_EQ(State(*running[i]), 0) << running[i]->Name();
    }

    StopAll();
    limit.Clear();
    const Resources stopped = Measure();
    EXPECT_LE(stopped.threads, atStart.threads + 4);
    EXPECT_LE(stopped.handles, atStart.handles + 40);
    EXPECT_LE(stopped.addressSpace, atStart.addressSpace + 32u * 1024 * 1024);

    // Without the limit every channel starts again, the failed ones too.
    for (auto& slot : slots) {
        ASSERT_TRUE(Open(*slot)) << slot->Name();
        slot->failed = false;
        ASSERT_TRUE(slot->driver->GetVideoCaptureEx()->StartChannel(0, &slot->callback, &slot->channelConfig));
    }
    for (auto& slot : slots) {
        const size_t had = slot->callback.Frames();
        EXPECT_TRUE(slot->callback.WaitFrames(had + 5, 60s)) << slot->Name() << " did not deliver again";
    }
    StopAll();
    const Resources end = Measure();

    std::printf("\nExhaustion (%d-bit, driver thread limit %s)\n", int(sizeof(void*) * 8), kThreadLimit);
    std::printf("channels started before the first failure: %zu\n", size_t(running.size()));
    std::printf("first failure (%s): %s\n", firstFailure->Name().c_str(), firstFailure->failureLine.c_str());
    std::printf("second failure (%s): %s\n", secondFailure->Name().c_str(), secondFailure->failureLine.c_str());
    std::printf("retries of the failed H.264 channel in %llds: %zu\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kFailureWindow).count()),
                retries);
    std::printf("%-14s %10s %10s %10s\n", "channel", "before/s", "during/s", "after/s");
    for (size_t i = 0; i < running.size(); ++i)
        std::printf("%-14s %10.1f %10.1f %10.1f\n", running[i]->Name().c_str(), before[i], during[i], after[i]);
    std::printf("%-14s %8s %8s %12s\n", "process", "threads", "handles", "address");
    const std::pair<const char*, const Resources*> rows[] = {
        {"at start", &atStart}, {"full", &full}, {"after stop", &stopped}, {"at end", &end}};
    for (const auto& row : rows)
        std::printf("%-14s %8u %8lu %12s\n", row.first, row.second->threads, static_cast<unsigned long>(row.second->handles),
                    Mib(row.second->addressSpace).c_str());
}

// The real thing, where a process can run out of address space: the 32-bit
// build. Every free range of 64 KiB or more is reserved, then a little is
// given back (room for the capture thread, not for the stream's threads)
// and one more channel is started.
TEST_F(Exhaustion, OutOfAddressSpaceTheNextChannelFailsAndTheRunningOnesGoOn) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "a 64-bit process does not run out of address space";
    for (Kind kind : {MJPEG, H264}) {
        auto slot = MakeSlot(kind);
        ASSERT_TRUE(slot);
        ASSERT_TRUE(Open(*slot));
        ASSERT_TRUE(slot->driver->GetVideoCaptureEx()->StartChannel(0, &slot->callback, &slot->channelConfig));
        ASSERT_TRUE(slot->callback.WaitFrames(5, 60s)) << slot->Name();
        slots.push_back(std::move(slot));
    }
    auto extra = MakeSlot(H264);
    ASSERT_TRUE(extra);
    ASSERT_TRUE(Open(*extra));
    std::vector<Slot*> running{slots[0].get(), slots[1].get()};
    const std::vector<double> before = Rates(running, kWindow);

    std::vector<void*> reserved;
    for (size_t size : {size_t(64) << 20, size_t(16) << 20, size_t(4) << 20, size_t(1) << 20, size_t(256) << 10,
                        size_t(64) << 10}) {
        for (;;) {
            void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
            if (p == nullptr) break;
            reserved.push_back(p);
        }
    }
    // Room for about two threads (a stack is at least 1 MiB under Wine):
    // the capture thread starts, the stream cannot get all of its own.
    size_t given = 0, megabytes = 0, smalls = 0;
    for (size_t i = reserved.size(); i-- > 0;) {
        MEMORY_BASIC_INFORMATION region;
        VirtualQuery(reserved[i], &region, sizeof region);
        const bool mebibyte = region.RegionSize == (size_t(1) << 20) && megabytes < 2;
        const bool small = region.RegionSize == (size_t(64) << 10) && smalls < 8;
        if (!mebibyte && !small) continue;
        (mebibyte ? megabytes : smalls)++;
        given += region.RegionSize;
        VirtualFree(reserved[i], 0, MEM_RELEASE);
        reserved.erase(reserved.begin() + std::ptrdiff_t(i));
    }
    const bool accepted = extra->driver->GetVideoCaptureEx()->StartChannel(0, &extra->callback, &extra->channelConfig);
    const std::vector<double> during = Rates(running, 3 * kWindow);
    const size_t extraFrames = extra->callback.Frames();
    for (void* p : reserved) VirtualFree(p, 0, MEM_RELEASE);

    std::vector<std::string> extraLines;
    for (const auto& line : sink.Lines())
        if (line.text.find(extra->Device()) != std::string::npos || line.text.find("could not") != std::string::npos)
            extraLines.push_back(line.text);
    std::printf("\nOut of address space (%zu reservations, %zu KiB given back): StartChannel %s, %zu frames\n",
                reserved.size(), given / 1024, accepted ? "accepted" : "refused", extraFrames);
    for (const auto& line : extraLines) std::printf("  %s\n", line.c_str());
    for (size_t i = 0; i < running.size(); ++i)
        std::printf("  %s: %.1f frames/s before, %.1f while full\n", running[i]->Name().c_str(), before[i], during[i]);

    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_GT(during[i], 0.0) << running[i]->Name() << " stopped while the process was full";
    EXPECT_TRUE(!accepted || extraFrames == 0 || !extraLines.empty());

    // With room again the extra channel streams too.
    ASSERT_TRUE(extra->driver->GetVideoCaptureEx()->StartChannel(0, &extra->callback, &extra->channelConfig));
    EXPECT_TRUE(extra->callback.WaitFrames(extraFrames + 5, 60s));
    extra->driver->GetVideoCaptureEx()->StopChannel(0);
    extra->driver.reset();
    StopAll();
}

// A Motion JPEG channel gets its capture thread but not the thread that reads
// its stream: it says so once, naming the thread and the device, leaves the
// camera's stream alone, reports signal lost and gives every thread back;
// with threads to spare it streams again.
TEST_F(Exhaustion, AMotionJpegChannelWithoutItsStreamReaderGoesSignalLost) {
    auto slot = MakeSlot(MJPEG);
    ASSERT_TRUE(slot);
    const long baseline = DriverThreads();
    ASSERT_GE(baseline, 0);
    const Resources atStart = Measure();
    ASSERT_TRUE(Open(*slot));
    LimitGuard limit(std::to_string(baseline + 1).c_str());
    ASSERT_TRUE(slot->driver->GetVideoCaptureEx()->StartChannel(0, &slot->callback, &slot->channelConfig));

    const std::string expected = "zentavo::CStreamPump::StartThread: could not start thread \"HTTP stream reader\" for device " +
                                 slot->Device() + ": ";
    // The stream time-out passes with a start tried several times a second.
    EXPECT_TRUE(slot->callback.WaitStreamLost(1, 40s));
    EXPECT_EQ(State(*slot), 2);
    size_t lines = 0;
    std::string line;
    for (const auto& l : sink.Lines()) {
        if (l.text.find("could not start thread \"HTTP stream reader\"") == std::string::npos) continue;
        ++lines;
        line = l.text;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    EXPECT_NE(line.find("too many threads"), std::string::npos) << line;
    EXPECT_EQ(slot->callback.Frames(), 0u);
    for (const auto& request : slot->camera->Log())
        EXPECT_EQ(request.find("/cgi-bin/mjpeg"), std::string::npos) << "stream asked for: " << request;

    EXPECT_TRUE(slot->driver->GetVideoCaptureEx()->StopChannel(0));
    slot->driver.reset();
    limit.Clear();
    EXPECT_EQ(DriverThreads(), baseline) << "driver threads left behind";
    EXPECT_LE(Measure().threads, atStart.threads + 4);

    ASSERT_TRUE(Open(*slot));
    ASSERT_TRUE(slot->driver->GetVideoCaptureEx()->StartChannel(0, &slot->callback, &slot->channelConfig));
    EXPECT_TRUE(slot->callback.WaitFrames(5, 60s)) << "no frames once threads were there again";
    slot->driver->GetVideoCaptureEx()->StopChannel(0);
    slot->driver.reset();
}

// A capability probe that cannot get its thread is refused (Start returns 0,
// no callback will come), its properties are released, and the one place it
// can say why, the system's debug output, names the thread and the device
// without the credentials.
TEST_F(Exhaustion, ACapabilityQueryWithoutAThreadIsRefusedAndSaysWhy) {
    const long baseline = DriverThreads();
    ASSERT_GE(baseline, 0);
    QueryExports exports(library);
    TestCapabilityCallback callback;
    TestCapabilityResults results;
    zentavo::ipcapture::IIPCapabilityQuery* query = exports.create(&callback, 0);
    ASSERT_NE(query, nullptr);
    int32_t started = -1;
    std::vector<std::string> lines;
    {
        DebugOutputTrap trap;
        LimitGuard limit(std::to_string(baseline).c_str());
        started = query->Start("127.0.0.1", 8080, "admin", "s3cret-pass", &results);
        limit.Clear();
        lines = trap.Lines();
    }
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(callback.Outcomes().empty());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("zentavo::CCapabilityQueryModule::Start: could not start thread \"capability query\" for "
                             "device 127.0.0.1:8080: ",
                             0),
              0u)
        << lines[0];
    EXPECT_NE(lines[0].find("too many threads"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("s3cret-pass"), std::string::npos);
    exports.destroy(query);
    EXPECT_TRUE(callback.Outcomes().empty());
    EXPECT_EQ(DriverThreads(), baseline);
}
