// What every command that talks to a device does first: load the driver
// library and make sure the device accepts connections at all.
#pragma once

#include <string>

#include "Console.h"
#include "DriverModule.h"
#include "Options.h"

namespace zentavo {
namespace cli {

// "address:port" as the messages name the device.
std::string DeviceText(const Options& options);

// 0 when the library is loaded and the device reachable; otherwise the exit
// code, with the reason already printed.
int LoadDriverAndReachDevice(const Options& options, Console& console, DriverModule& module);

}  // namespace cli
}  // namespace zentavo
