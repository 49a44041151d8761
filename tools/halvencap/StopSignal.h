// Ctrl+C, Ctrl+Break and console close ask the running command to stop;
// the command notices it between its periodic checks and shuts the driver
// down in order instead of being killed in the middle.
#pragma once

namespace zentavo {
namespace cli {

bool InstallStopHandler();
// Waits up to timeoutMs; true once a stop has been asked for.
bool WaitForStop(unsigned timeoutMs);
bool StopRequested();
// Whether the handle behind stdout is a console (then the status line is
// rewritten in place).
bool StdoutIsConsole();

}  // namespace cli
}  // namespace zentavo
