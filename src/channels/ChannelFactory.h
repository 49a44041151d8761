#pragma once

#include <cstdint>

#include "channels/ICameraChannel.h"
#include "host/IDriver.h"

namespace zentavo {

// The channel kind for a video format: 1 Motion JPEG over HTTP, 2 MPEG-4 and
// 3 H.264 over RTSP. Null for any other format or when memory is exhausted.
ICameraChannel* CreateCameraChannel(int32_t videoFormat, uint32_t channelIndex, IDriver* driver,
                                    ipcapture::IChannelCallback* callback);

}  // namespace zentavo
