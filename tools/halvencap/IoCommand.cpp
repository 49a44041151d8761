// `io`: switch outputs, then watch the inputs; every change and every I/O
// failure is printed as it comes.
#include <chrono>
#include <string>

#include "CommandSetup.h"
#include "Commands.h"
#include "DebugSink.h"
#include "DriverModule.h"
#include "ExitCodes.h"
#include "HostConfig.h"
#include "IoCallback.h"
#include "Reachability.h"
#include "StopSignal.h"
#include "io/ICaptureIOApi.h"

namespace zentavo {
namespace cli {

namespace {

// Without --watch the program still gives the output thread and the first
// input poll this long, so switches are carried out and failures are seen.
constexpr unsigned SETTLE_MS = 2000;
constexpr unsigned POLL_MS = 100;

constexpr uint32_t OUTPUT_OFF = 1;
constexpr uint32_t OUTPUT_ON = 2;


std::string LineList(const std::vector<uint32_t>& lines) {
    std::string text;
    for (uint32_t line : lines) text += (text.empty() ? "" : ",") + std::to_string(line);
    return text.empty() ? "none" : text;
}

}  // namespace

int RunIo(const Options& o, Console& console) {
    DriverModule module;
    if (const int failed = LoadDriverAndReachDevice(o, console, module)) return failed;

    DebugSink sink(console, o.logThreshold);
    IoCallback callback(console, o.ioLines);
    DeviceConfig deviceConfig(o);
    DriverPtr driver(module.Create(), DriverDeleter{&module});
    if (!driver) {
        console.Error("halvencap: the driver library could not create a driver object");
        return EXIT_FAILURE_OTHER;
    }
    // No video here, so no frame factory.
    if (!driver->Open(&sink, nullptr, &deviceConfig)) {
        console.Error("halvencap: the driver refused to open device " + DeviceText(o));
        return EXIT_DEVICE_UNREACHABLE;
    }
    ICaptureIOApi* io = driver->GetIOApi();
    if (io == nullptr) {
        console.Error("halvencap: the driver offers no digital I/O for " + DeviceText(o));
        return EXIT_FAILURE_OTHER;
    }
    io->SetCallback(&callback);
    console.Print("I/O of " + DeviceText(o) + ": " + std::to_string(io->GetInputCount()) + " inputs (camera lines " +
                  LineList(o.ioLines.inputs) + "), " + std::to_string(io->GetOutputCount()) +
                  " outputs (camera lines " + LineList(o.ioLines.outputs) + ")");
    if (!io->StartIO()) {
        console.Error("halvencap: the driver could not start its I/O threads");
        return EXIT_FAILURE_OTHER;
    }

    bool queued = true;
    for (const OutputSwitch& sw : o.switches) {
        const bool ok = io->SetOutputState(sw.index, sw.on ? OUTPUT_ON : OUTPUT_OFF);
        console.Print("output " + std::to_string(sw.index) + " (camera line " +
                      std::to_string(o.ioLines.outputs[sw.index]) + "): " + (sw.on ? "on" : "off") +
                      (ok ? "" : " - not accepted"));
        queued = queued && ok;
    }

    const unsigned runMs = o.watchSeconds != 0 ? o.watchSeconds * 1000u : SETTLE_MS;
    if (o.watchSeconds != 0)
        console.Print("watching inputs for " + std::to_string(o.watchSeconds) + " s (Ctrl+C to stop)");
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(runMs);
    bool interrupted = false;
    while (Clock::now() < end) {
        if (WaitForStop(POLL_MS)) {
            interrupted = true;
            break;
        }
    }
    io->StopIO();

    std::string inputs;
    for (const auto& entry : callback.Inputs())
        inputs += (inputs.empty() ? "" : ", ") + std::to_string(entry.first) + " " + InputStateName(entry.second);
    console.Print("inputs: " + (inputs.empty() ? std::string("not read") : inputs) + "; I/O failures: " +
                  std::to_string(callback.Failures()) + (interrupted ? " (stopped by the user)" : ""));
    driver.reset();
    if (!queued) return EXIT_FAILURE_OTHER;
    if (callback.Failures() != 0) {
        console.Error("halvencap: device " + DeviceText(o) +
                      (sink.Refused() ? " refused the credentials or an I/O request" : " did not carry out every I/O request"));
        return EXIT_DEVICE_UNREACHABLE;
    }
    return EXIT_OK;
}

}  // namespace cli
}  // namespace zentavo
