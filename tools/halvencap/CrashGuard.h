// A fault inside the driver library must not end the process with an exit
// code a script would take for success: an unhandled exception is reported
// on stderr and the process ends with code 1.
#pragma once

namespace zentavo {
namespace cli {

void InstallCrashGuard();

}  // namespace cli
}  // namespace zentavo
