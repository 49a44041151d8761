// `record`: open the device, start channel 0, write every frame until the
// time is up or the user stops, then report what was captured.
#include <chrono>
#include <cstdio>
#include <string>

#include "ChannelCallback.h"
#include "CommandSetup.h"
#include "Commands.h"
#include "DebugSink.h"
#include "DriverModule.h"
#include "ExitCodes.h"
#include "HostConfig.h"
#include "HostFrame.h"
#include "Reachability.h"
#include "Recorder.h"
#include "StatusLine.h"
#include "StopSignal.h"

namespace zentavo {
namespace cli {

namespace {

constexpr unsigned POLL_MS = 100;
constexpr double STATE_POLL_SECONDS = 0.25;
constexpr double FLUSH_SECONDS = 1.0;
constexpr double STATUS_SECONDS_TERMINAL = 0.5;
constexpr double STATUS_SECONDS_LOG = 5.0;


int PollState(ipcapture::IIPVideoCapture* video) {
    int32_t state = STATE_UNKNOWN;
    int32_t errorCode = 0;
    char text[256] = {};
    if (!video->GetChannelState(0, &state, &errorCode, text, sizeof text)) return STATE_UNKNOWN;
    return state;
}

}  // namespace

int RunRecord(const Options& o, Console& console) {
    DriverModule module;
    if (const int failed = LoadDriverAndReachDevice(o, console, module)) return failed;
    std::string error;
    Recorder recorder;
    if (!recorder.Open(o.outDir, error)) {
        console.Error("halvencap: " + error);
        return EXIT_FAILURE_OTHER;
    }

    // Host objects outlive the driver: it is declared after them.
    DebugSink sink(console, o.logThreshold);
    FrameFactory factory;
    ChannelCallback callback(factory, recorder);
    DeviceConfig deviceConfig(o);
    ChannelConfig channelConfig(o);
    DriverPtr driver(module.Create(), DriverDeleter{&module});
    if (!driver) {
        console.Error("halvencap: the driver library could not create a driver object");
        return EXIT_FAILURE_OTHER;
    }
    if (!driver->Open(&sink, &factory, &deviceConfig)) {
        console.Error("halvencap: the driver refused to open device " + DeviceText(o));
        return EXIT_DEVICE_UNREACHABLE;
    }
    ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
    if (video == nullptr || video->GetChannelCount() == 0) {
        console.Error("halvencap: no video: the driver offers no video channel for " + DeviceText(o));
        return EXIT_NO_VIDEO;
    }

    console.Print("recording " + std::string(FormatName(o.format)) + " " + std::to_string(o.width) + "x" +
                  std::to_string(o.height) + " every " + std::to_string(o.intervalMs) + " ms from " + DeviceText(o) +
                  " into " + o.outDir +
                  (o.seconds ? " for " + std::to_string(o.seconds) + " s" : std::string(" until Ctrl+C")));
    if (!video->StartChannel(0, &callback, &channelConfig)) {
        console.Error(std::string("halvencap: no video: the driver could not start a ") + FormatName(o.format) +
                      " channel");
        return EXIT_NO_VIDEO;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    RateMeter rates;
    StateTracker tracker;
    double nextState = 0, nextFlush = FLUSH_SECONDS, nextStatus = 0;
    const double statusEvery = console.Interactive() ? STATUS_SECONDS_TERMINAL : STATUS_SECONDS_LOG;
    bool interrupted = false;
    bool refusedEarly = false;
    for (;;) {
        if (WaitForStop(POLL_MS)) {
            interrupted = true;
            break;
        }
        const double now = elapsed();
        if (o.seconds != 0 && now >= double(o.seconds)) break;
        const RecorderStats stats = recorder.Stats();
        // Wrong credentials do not heal by waiting; say so at once.
        if (stats.frames == 0 && sink.Refused()) {
            refusedEarly = true;
            break;
        }
        if (now >= nextState) {
            tracker.Observe(PollState(video));
            nextState = now + STATE_POLL_SECONDS;
        }
        if (now >= nextFlush) {
            recorder.Flush();
            nextFlush = now + FLUSH_SECONDS;
        }
        rates.Add(now, stats.frames, stats.bytes);
        if (!o.quiet && now >= nextStatus) {
            StatusSnapshot s;
            s.seconds = now;
            s.frames = stats.frames;
            s.fps = rates.FramesPerSecond();
            s.kbps = rates.KilobitsPerSecond();
            s.state = tracker.State();
            s.everStreamed = tracker.EverStreamed();
            s.reconnects = tracker.Reconnects();
            s.lost = callback.Lost();
            s.lastLog = sink.LastLine();
            console.Status(FormatStatus(s));
            nextStatus = now + statusEvery;
        }
    }
    const double duration = elapsed();
    // Once the channel is stopped no frame can come: finish the files before
    // anything else, so that what was recorded is safe whatever follows.
    video->StopChannel(0);
    recorder.Close();
    console.EndStatus();

    const RecorderStats stats = recorder.Stats();
    char line[300];
    std::snprintf(line, sizeof line, "recorded %llu frames (%s) in %.1f s, %.1f fps on average%s",
                  static_cast<unsigned long long>(stats.frames), FormatBytes(stats.bytes).c_str(), duration,
                  duration > 0 ? double(stats.frames) / duration : 0.0, interrupted ? " (stopped by the user)" : "");
    console.Print(line);
    if (stats.frames != 0) {
        std::snprintf(line, sizeof line, "  picture %ux%u, %llu key frames", stats.lastWidth, stats.lastHeight,
                      static_cast<unsigned long long>(stats.keyFrames));
        console.Print(line);
    }
    for (const std::string& file : recorder.StreamFiles()) console.Print("  video: " + file);
    console.Print("  index: " + recorder.IndexPath());
    std::snprintf(line, sizeof line, "  reconnects %u, signal lost %llu, refused %llu, skipped before a key frame %llu",
                  tracker.Reconnects(), static_cast<unsigned long long>(callback.Lost()),
                  static_cast<unsigned long long>(callback.Refused()), static_cast<unsigned long long>(stats.skipped));
    console.Print(line);
    driver.reset();
    if (stats.writeErrors != 0) {
        console.Error("halvencap: " + std::to_string(stats.writeErrors) + " frames could not be written to " + o.outDir);
        return EXIT_FAILURE_OTHER;
    }
    if (stats.frames != 0) return EXIT_OK;
    if (refusedEarly || sink.Refused()) {
        console.Error("halvencap: device " + DeviceText(o) + " refused the credentials or the request");
        return EXIT_DEVICE_UNREACHABLE;
    }
    console.Error("halvencap: no video received from " + DeviceText(o));
    return EXIT_NO_VIDEO;
}

}  // namespace cli
}  // namespace zentavo
