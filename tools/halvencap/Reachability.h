// A plain TCP connection attempt before the driver is opened: the driver
// keeps retrying an unreachable camera quietly, so the program finds out
// for itself whether there is anything to talk to.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {
namespace cli {

bool CheckReachable(const std::string& address, uint16_t port, unsigned timeoutMs, std::string& error);

}  // namespace cli
}  // namespace zentavo
