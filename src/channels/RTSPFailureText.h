// Puts what ended an RTSP connection attempt into an integrator's words:
// the cause and what to check, never a credential. Empty when the record
// holds nothing worth a line (a session stopped by this side).
#pragma once

#include <cstdint>
#include <string>

#include "streaming/RTSPSessionResult.h"

namespace zentavo {

std::string DescribeRtspFailure(const RTSP_SESSION_RESULT& result, const std::string& host, uint16_t port);

}  // namespace zentavo
