// `probe`: the capability query is not part of this program yet.
#include "Commands.h"
#include "DriverModule.h"
#include "ExitCodes.h"

namespace zentavo {
namespace cli {

int RunProbe(const Options& o, Console& console) {
    DriverModule module;
    std::string error;
    const std::string dll = o.dllPath.empty() ? DriverModule::DefaultPath() : o.dllPath;
    if (!module.Load(dll, error)) {
        console.Error("halvencap: " + error);
        return EXIT_FAILURE_OTHER;
    }
    console.Error("halvencap: probe is not available yet: this version cannot query the capabilities of " +
                  o.address + ":" + std::to_string(o.port));
    return EXIT_FAILURE_OTHER;
}

}  // namespace cli
}  // namespace zentavo
