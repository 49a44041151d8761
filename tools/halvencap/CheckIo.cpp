// The I/O step of `check`: the `io` path with one output switched on and
// off again and every input read at least once.
#include <chrono>

#include "CheckLogSink.h"
#include "CheckSteps.h"
#include "ExitCodes.h"
#include "HostConfig.h"
#include "IoCallback.h"
#include "StopSignal.h"
#include "io/ICaptureIOApi.h"

namespace zentavo {
namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned POLL_MS = 100;
constexpr uint32_t OUTPUT_OFF = 1;
constexpr uint32_t OUTPUT_ON = 2;
// How long an output stays on, and how long the output thread and the
// input polls (the first at once, then every 1.5 s) get before the step is
// judged; a camera answering within the request time-out makes it.
constexpr double SWITCH_SECONDS = 1.5;
constexpr double SETTLE_SECONDS = 2.0;
constexpr double MAX_SECONDS = 12.0;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

uint32_t InputsRead(const std::map<uint32_t, uint32_t>& inputs) {
    uint32_t read = 0;
    for (const auto& entry : inputs)
        if (entry.second != 0) ++read;
    return read;
}

}  // namespace

void CheckIo(const Options& o, const DriverModule& module, Console& console, CheckStep& step) {
    const Clock::time_point start = Clock::now();
    CheckLogSink sink(console, o.logThreshold);
    IoCallback callback(console, o.ioLines);
    DeviceConfig deviceConfig(o);
    IoFigures& f = step.io;
    f.inputs = static_cast<uint32_t>(o.ioLines.inputs.size());
    f.outputs = static_cast<uint32_t>(o.ioLines.outputs.size());
    step.hasIo = true;
    bool queued = true;
    bool interrupted = false;
    {
        DriverPtr driver(module.Create(), DriverDeleter{&module});
        // No video here, so no frame factory.
        if (!driver || !driver->Open(&sink, nullptr, &deviceConfig)) {
            step.result = StepResult::Failed;
            step.failCode = EXIT_FAILURE_OTHER;
            step.detail = "the driver could not be opened for I/O";
            step.log = sink.Lines();
            return;
        }
        ICaptureIOApi* io = driver->GetIOApi();
        if (io != nullptr) io->SetCallback(&callback);
        if (io == nullptr || !io->StartIO()) {
            step.result = StepResult::Failed;
            step.failCode = EXIT_FAILURE_OTHER;
            step.detail = "the driver offers no digital I/O or could not start it";
            step.log = sink.Lines();
            return;
        }
        console.Print("checking " + step.title);
        double settledFrom = 0;
        if (f.outputs != 0) {
            queued = io->SetOutputState(0, OUTPUT_ON);
            interrupted = WaitForStop(static_cast<unsigned>(SWITCH_SECONDS * 1000));
            queued = io->SetOutputState(0, OUTPUT_OFF) && queued;
            f.switched = queued;
            settledFrom = Since(start);
        }
        while (!interrupted) {
            const double now = Since(start);
            if (now >= MAX_SECONDS) break;
            if (now - settledFrom >= SETTLE_SECONDS && InputsRead(callback.Inputs()) >= f.inputs) break;
            interrupted = WaitForStop(POLL_MS);
        }
        io->StopIO();
    }
    const std::map<uint32_t, uint32_t> inputs = callback.Inputs();
    f.inputsRead = InputsRead(inputs);
    f.failures = callback.Failures();
    for (const auto& entry : inputs)
        f.states += (f.states.empty() ? "" : ", ") + std::to_string(entry.first) + " " + InputStateName(entry.second);
    step.log = sink.Lines();
    step.seconds = Since(start);

    step.result = StepResult::Failed;
    step.failCode = sink.Refused() ? EXIT_DEVICE_UNREACHABLE : EXIT_FAILURE_OTHER;
    if (interrupted) {
        step.failCode = EXIT_FAILURE_OTHER;
        step.detail = "stopped by the user";
    } else if (!queued) {
        step.detail = "the driver did not take the output switch";
    } else if (f.failures != 0) {
        step.detail = sink.Refused() ? "the camera refused the credentials or an I/O request"
                                     : "the camera did not carry out every I/O request";
    } else if (f.inputsRead < f.inputs) {
        step.detail = "only " + std::to_string(f.inputsRead) + " of " + std::to_string(f.inputs) + " inputs were read";
    } else {
        step.result = StepResult::Passed;
        step.failCode = 0;
        step.detail = f.outputs != 0 ? "output 0 was left off" : "no output listed, none switched";
    }
}

}  // namespace cli
}  // namespace zentavo
