#pragma once

#include <cstdint>

namespace zentavo {

// Requested stream settings as the host gave them.
struct STREAM_SETTINGS {
    uint32_t frameIntervalMs = 0;
    uint32_t quality = 0;  // 1 to 100
    uint32_t width = 0;
    uint32_t height = 0;
};

// Camera state as the host polls it.
enum CameraState : int32_t {
    CAMERA_STREAMING = 0,
    CAMERA_SIGNAL_LOST = 2,
    CAMERA_STOPPED = 3,
};

}  // namespace zentavo
