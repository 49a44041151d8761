// `probe`: asks the driver's capability query what the device can do, the
// way a recording server does before it adds a camera, and prints it.
#include <string>

#include "CommandSetup.h"
#include "Commands.h"
#include "DriverModule.h"
#include "ExitCodes.h"
#include "ProbeQuery.h"
#include "ProbeReport.h"

namespace zentavo {
namespace cli {

int RunProbe(const Options& o, Console& console) {
    DriverModule module;
    if (const int failed = LoadDriverAndReachDevice(o, console, module)) return failed;

    ProbeResults results(DeviceText(o));
    const ProbeOutcome outcome = RunCapabilityQuery(o, module, results);
    switch (outcome.end) {
        case ProbeOutcome::End::Unavailable:
            console.Error("halvencap: " + outcome.message);
            return EXIT_FAILURE_OTHER;
        case ProbeOutcome::End::Hung:
            console.Error("halvencap: the capability query of " + DeviceText(o) + " did not end");
            return EXIT_FAILURE_OTHER;
        case ProbeOutcome::End::Failed:
            console.Error("halvencap: probe of " + DeviceText(o) + " failed: " + OneLine(outcome.message) + " (code " +
                          std::to_string(outcome.code) + ")");
            return ProbeExitCode(outcome.code);
        case ProbeOutcome::End::Completed:
            break;
    }
    const ProbeReport report = results.Report();
    if (o.json) {
        console.Print(RenderJson(report));
    } else {
        for (const std::string& line : RenderTable(report)) console.Print(line);
    }
    return EXIT_OK;
}

}  // namespace cli
}  // namespace zentavo
