#include "CommandSetup.h"

#include "Commands.h"
#include "ExitCodes.h"
#include "Reachability.h"

namespace zentavo {
namespace cli {

std::string DeviceText(const Options& o) { return o.address + ":" + std::to_string(o.port); }

int LoadDriverAndReachDevice(const Options& o, Console& console, DriverModule& module) {
    std::string error;
    const std::string dll = o.dllPath.empty() ? DriverModule::DefaultPath() : o.dllPath;
    if (!module.Load(dll, error)) {
        console.Error("halvencap: " + error);
        return EXIT_FAILURE_OTHER;
    }
    if (!CheckReachable(o.address, o.port, REACH_TIMEOUT_MS, error)) {
        console.Error("halvencap: device " + DeviceText(o) + " is unreachable: " + error);
        return EXIT_DEVICE_UNREACHABLE;
    }
    return 0;
}

}  // namespace cli
}  // namespace zentavo
