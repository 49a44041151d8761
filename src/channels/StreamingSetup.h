// The camera's RTSP server settings for one unicast stream: what to read,
// the key-frame distance to ask for, what to write when anything differs,
// and the RTSP port the camera names. Pure request building; the channel
// sends the requests.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerRequest.h"

namespace zentavo {

// The key-frame distance the driver wants (one second), fitted into the
// camera's range and onto its increment; empty when the camera offers no
// usable range.
std::string KeyFrameDistanceValue(const PARAM_RANGE& range);

// The read request of the streaming step for the given stream.
void AddStreamingReads(CBaslerRequest& read, uint32_t streamIndex);

// Fills write with what differs from read (key-frame distance, multicast
// off, streaming on), ended by the commit command. False when nothing
// differs; write then stays empty.
bool AddStreamingWrites(const CBaslerRequest& read, CBaslerRequest& write);

// The camera's RTSP port from read: true with port set when the camera gave
// a value (a value with anything but digits gives 0), false for no value.
bool ReadRtspPort(const CBaslerRequest& read, uint16_t& port);

}  // namespace zentavo
