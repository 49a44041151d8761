// The second half of an RTSP channel's camera preparation: bring the
// camera's RTSP server settings to unicast streaming with the driver's
// key-frame distance, committing only when anything changed.
#pragma once

#include <cstdint>

#include "camera/BaslerChannelHelper.h"

namespace zentavo {

// Runs the exchanges on the helper's sender (after ConfigureStream, whose
// stream index it uses). rtspPort is set when the camera names one and
// kept otherwise. False on the first failed exchange.
bool ExecuteStreamingStep(CBaslerChannelHelper& helper, uint16_t& rtspPort);

}  // namespace zentavo
