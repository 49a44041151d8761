// One video step of `check`: the `record` path (driver, channel, recorder)
// with every accepted frame also measured on arrival.
#include <chrono>
#include <cstdio>

#include "ChannelCallback.h"
#include "CheckLogSink.h"
#include "CheckSteps.h"
#include "CommandSetup.h"
#include "ExitCodes.h"
#include "HostConfig.h"
#include "HostFrame.h"
#include "Recorder.h"
#include "StatusLine.h"
#include "StopSignal.h"

namespace zentavo {
namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned POLL_MS = 100;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Hands each frame to the recorder's callback and measures the ones it took.
class MeteredCallback final : public ipcapture::IChannelCallback {
public:
    MeteredCallback(ChannelCallback& inner, FrameFactory& factory, CheckVideoMeter& meter, Clock::time_point start)
        : m_inner(inner), m_factory(factory), m_meter(meter), m_start(start) {}

    bool OnFrame(ipcapture::IHostFrame* frame) override {
        const double at = Since(m_start);
        if (!m_inner.OnFrame(frame)) return false;
        try {
            if (const HostFrame* ours = m_factory.Find(frame))
                m_meter.Frame(at, ours->Size(), IsKeyFrame(ours->Info().code), ours->Info().width,
                              ours->Info().height);
        } catch (...) {
        }
        return true;
    }
    void OnStreamLost() override { m_inner.OnStreamLost(); }

private:
    ChannelCallback& m_inner;
    FrameFactory& m_factory;
    CheckVideoMeter& m_meter;
    Clock::time_point m_start;
};

int PollState(ipcapture::IIPVideoCapture* video) {
    int32_t state = STATE_UNKNOWN;
    int32_t errorCode = 0;
    char text[256] = {};
    if (!video->GetChannelState(0, &state, &errorCode, text, sizeof text)) return STATE_UNKNOWN;
    return state;
}

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

void Fail(CheckStep& step, int code, const std::string& detail) {
    step.result = StepResult::Failed;
    step.failCode = code;
    step.detail = detail;
}

}  // namespace

void CheckVideo(const Options& o, VideoFormat format, const DriverModule& module, Console& console,
                const std::string& sampleDir, CheckStep& step) {
    const Clock::time_point start = Clock::now();
    Options options = o;
    options.format = format;
    std::string error;
    Recorder recorder;
    if (!recorder.Open(sampleDir, error)) {
        Fail(step, EXIT_FAILURE_OTHER, error);
        return;
    }

    // Host objects outlive the driver: it is declared after them.
    CheckLogSink sink(console, o.logThreshold);
    FrameFactory factory;
    CheckVideoMeter meter;
    ChannelCallback recording(factory, recorder);
    MeteredCallback callback(recording, factory, meter, start);
    DeviceConfig deviceConfig(options);
    ChannelConfig channelConfig(options);
    StateTracker tracker;
    bool interrupted = false;
    {
        DriverPtr driver(module.Create(), DriverDeleter{&module});
        if (!driver) {
            Fail(step, EXIT_FAILURE_OTHER, "the driver library could not create a driver object");
            return;
        }
        if (!driver->Open(&sink, &factory, &deviceConfig)) {
            Fail(step, EXIT_DEVICE_UNREACHABLE, "the driver refused to open the device");
            step.log = sink.Lines();
            return;
        }
        ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
        if (video == nullptr || video->GetChannelCount() == 0 || !video->StartChannel(0, &callback, &channelConfig)) {
            Fail(step, EXIT_NO_VIDEO, std::string("the driver could not start a ") + FormatName(format) + " channel");
            step.log = sink.Lines();
            return;
        }
        console.Print("checking " + step.title + " for " + std::to_string(o.seconds) + " s");
        while (Since(start) < double(o.seconds)) {
            if (WaitForStop(POLL_MS)) {
                interrupted = true;
                break;
            }
            tracker.Observe(PollState(video));
            // Wrong credentials do not heal by waiting.
            if (meter.Frames() == 0 && sink.Refused()) break;
        }
        video->StopChannel(0);
        recorder.Close();
        step.video = meter.Finish(Since(start));
    }
    step.hasVideo = true;
    step.video.reconnects = tracker.Reconnects();
    step.video.lost = recording.Lost();
    step.video.refused = recording.Refused();
    step.log = sink.Lines();
    step.seconds = Since(start);

    const VideoFigures& v = step.video;
    const RecorderStats stats = recorder.Stats();
    if (interrupted) {
        Fail(step, EXIT_FAILURE_OTHER, "stopped by the user");
    } else if (v.frames == 0 && sink.Refused()) {
        Fail(step, EXIT_DEVICE_UNREACHABLE, "the camera refused the credentials or the request");
    } else if (v.frames == 0) {
        Fail(step, EXIT_NO_VIDEO, "no video in " + Seconds(v.seconds));
    } else if (v.keyFrames == 0) {
        Fail(step, EXIT_NO_VIDEO, "no key frame: nothing a decoder could start on");
    } else if (v.longestGapMs > CHECK_MAX_GAP_MS) {
        Fail(step, EXIT_NO_VIDEO, "the stream stalled for " + Seconds(v.longestGapMs / 1000.0));
    } else if (stats.writeErrors != 0) {
        Fail(step, EXIT_FAILURE_OTHER, std::to_string(stats.writeErrors) + " frames could not be written to " + sampleDir);
    } else {
        step.result = StepResult::Passed;
        step.detail = "sample in " + sampleDir;
    }
}

}  // namespace cli
}  // namespace zentavo
