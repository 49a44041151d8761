// Compressions a probed device may offer, as the properties model keeps them.
#pragma once

#include <cstdint>

namespace zentavo {

enum CodecId : int32_t {
    CODEC_H264 = 1,
    CODEC_MPEG4 = 2,
    CODEC_JPEG = 3,
};

}  // namespace zentavo
