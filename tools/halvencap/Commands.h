// The commands of the program; each returns the process exit code.
#pragma once

#include "Console.h"
#include "Options.h"

namespace zentavo {
namespace cli {

int RunRecord(const Options& options, Console& console);
int RunIo(const Options& options, Console& console);
int RunProbe(const Options& options, Console& console);
int RunCheck(const Options& options, Console& console);

// Seconds the reachability check waits for the device to accept a connection.
constexpr unsigned REACH_TIMEOUT_MS = 3000;

}  // namespace cli
}  // namespace zentavo
