// `check`: what a recording server does with a new camera, in one command:
// reach it, log in, probe it, record a little of every video format it
// offers, switch an output and read the inputs. Each step is judged and
// measured; the report goes to a directory an integrator can attach to a
// support request, and the exit code says whether the camera is fit for
// recording.
#include <chrono>
#include <ctime>
#include <string>

#include "CheckReport.h"
#include "CheckSteps.h"
#include "CommandSetup.h"
#include "Commands.h"
#include "DriverModule.h"
#include "ExitCodes.h"
#include "ProbeQuery.h"
#include "ProbeReport.h"
#include "Reachability.h"
#include "StopSignal.h"
#include "capability/CapabilityContract.h"

namespace zentavo {
namespace cli {

namespace {

constexpr int32_t GROUP_FIRMWARE = 2;

enum StepIndex { STEP_REACH, STEP_LOGIN, STEP_PROBE, STEP_MJPEG, STEP_H264, STEP_MPEG4, STEP_IO, STEP_COUNT };

struct VideoStep {
    StepIndex index;
    VideoFormat format;
    const char* codec;  // as the probe names it
};
const VideoStep VIDEO_STEPS[] = {
    {STEP_MJPEG, VideoFormat::Mjpeg, "JPEG"},
    {STEP_H264, VideoFormat::H264, "H.264"},
    {STEP_MPEG4, VideoFormat::Mpeg4, "MPEG-4"},
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    const char last = directory.empty() ? '/' : directory.back();
    return last == '/' || last == '\\' ? directory + name : directory + "/" + name;
}

void SkipFrom(CheckReport& report, int first, const std::string& why) {
    for (int i = first; i < STEP_COUNT; ++i) {
        if (report.steps[i].result != StepResult::Skipped || !report.steps[i].detail.empty()) continue;
        report.steps[i].detail = why;
    }
}

bool Offers(const std::vector<std::string>& codecs, const char* codec) {
    for (const std::string& c : codecs)
        if (c == codec) return true;
    return false;
}

void Fail(CheckStep& step, int code, const std::string& detail) {
    step.result = StepResult::Failed;
    step.failCode = code;
    step.detail = detail;
}

// Login and probe are one capability query; its outcome tells them apart.
// Returns whether the steps after it are worth running.
bool JudgeProbe(const ProbeOutcome& outcome, const ProbeReport& probe, CheckReport& report) {
    CheckStep& login = report.steps[STEP_LOGIN];
    CheckStep& step = report.steps[STEP_PROBE];
    const std::string message = OneLine(outcome.message);
    if (outcome.end == ProbeOutcome::End::Completed) {
        login.result = StepResult::Passed;
        login.detail = "the camera accepted the credentials";
        step.result = StepResult::Passed;
        report.camera = probe.name;
        report.firmware = probe.GroupText(GROUP_FIRMWARE);
        report.codecs = probe.Codecs();
        step.detail = std::to_string(probe.sizes.size()) + " picture sizes, " +
                      std::to_string(probe.IoLines().size()) + " I/O lines";
        return true;
    }
    if (outcome.end != ProbeOutcome::End::Failed) {
        Fail(step, EXIT_FAILURE_OTHER, message);
        login.detail = "not known: the capability query did not run to its end";
        return true;
    }
    switch (outcome.code) {
        case ipcapture::CAPABILITY_LOGIN_REFUSED:
            Fail(login, EXIT_DEVICE_UNREACHABLE, "the camera refused the credentials: " + message);
            step.detail = "not run: the login was refused";
            return false;
        case ipcapture::CAPABILITY_UNREACHABLE:
        case ipcapture::CAPABILITY_BAD_ADDRESS:
            Fail(login, EXIT_DEVICE_UNREACHABLE, message);
            step.detail = "not run: the login check did not get through";
            return false;
        default:
            // Login check and property reads end the same way; which one
            // failed is in the message.
            login.detail = "not known apart from the probe: see there";
            Fail(step, EXIT_FAILURE_OTHER, message);
            return true;
    }
}

}  // namespace

int RunCheck(const Options& o, Console& console) {
    DriverModule module;
    std::string error;
    const std::string dll = o.dllPath.empty() ? DriverModule::DefaultPath() : o.dllPath;
    if (!module.Load(dll, error)) {
        console.Error("halvencap: " + error);
        return EXIT_FAILURE_OTHER;
    }
    const std::string outDir = o.outDir.empty() ? "." : o.outDir;

    CheckReport report;
    report.device = DeviceText(o);
    report.user = o.user;
    report.started = UtcNow();
    report.driver = dll;
    report.steps.resize(STEP_COUNT);
    const struct { const char* id; const char* title; } NAMES[STEP_COUNT] = {
        {"reach", "Connection"}, {"login", "Login check"}, {"probe", "Capability probe"},
        {"mjpeg", "Motion JPEG video"}, {"h264", "H.264 video"}, {"mpeg4", "MPEG-4 video"},
        {"io", "Digital I/O"},
    };
    for (int i = 0; i < STEP_COUNT; ++i) {
        report.steps[i].id = NAMES[i].id;
        report.steps[i].title = NAMES[i].title;
    }
    console.Print("checking " + report.device + "; report into " + outDir);

    CheckStep& reach = report.steps[STEP_REACH];
    auto start = std::chrono::steady_clock::now();
    const bool reachable = CheckReachable(o.address, o.port, REACH_TIMEOUT_MS, error);
    reach.seconds = SecondsSince(start);
    if (reachable) {
        reach.result = StepResult::Passed;
        reach.detail = "the camera accepts connections";
    } else {
        Fail(reach, EXIT_DEVICE_UNREACHABLE, error);
        SkipFrom(report, STEP_LOGIN, "not run: the camera is unreachable");
    }

    bool go = reach.result == StepResult::Passed;
    bool probed = false;
    if (go) {
        console.Print("checking the login and probing the camera");
        ProbeResults results(report.device);
        start = std::chrono::steady_clock::now();
        const ProbeOutcome outcome = RunCapabilityQuery(o, module, results);
        report.steps[STEP_PROBE].seconds = SecondsSince(start);
        go = JudgeProbe(outcome, results.Report(), report);
        probed = outcome.end == ProbeOutcome::End::Completed;
        if (!go) SkipFrom(report, STEP_MJPEG, "not run: the login failed");
    }
    for (const VideoStep& v : VIDEO_STEPS) {
        CheckStep& step = report.steps[v.index];
        if (!go || !step.detail.empty()) continue;
        if (StopRequested()) {
            step.detail = "not run: stopped by the user";
            continue;
        }
        if (probed && !Offers(report.codecs, v.codec)) {
            step.detail = std::string("the camera does not offer ") + v.codec;
            continue;
        }
        // Without a probe only the format every camera of the family has.
        if (!probed && v.format != VideoFormat::Mjpeg) {
            step.detail = "not run: without the probe it is not known whether the camera has it";
            continue;
        }
        CheckVideo(o, v.format, module, console, JoinPath(outDir, std::string("check-") + FormatName(v.format)), step);
    }
    CheckStep& io = report.steps[STEP_IO];
    if (go && io.detail.empty()) {
        if (StopRequested()) io.detail = "not run: stopped by the user";
        else CheckIo(o, module, console, io);
    }

    for (const CheckStep& step : report.steps)
        console.Print("  " + step.title + ": " + StepResultName(step.result) +
                      (step.detail.empty() ? "" : " - " + step.detail));
    const int code = CheckExitCode(report);
    console.Print(CheckVerdict(report) + " (exit code " + std::to_string(code) + ")");
    std::string path;
    if (!WriteCheckReport(report, outDir, path, error)) {
        console.Error("halvencap: " + error);
        return code != EXIT_OK ? code : EXIT_FAILURE_OTHER;
    }
    console.Print("report: " + path + " and " + JoinPath(outDir, CHECK_JSON_NAME));
    return code;
}

}  // namespace cli
}  // namespace zentavo
