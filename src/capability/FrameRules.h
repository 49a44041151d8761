// How picture sizes and frame rates of a probed device become the host's
// frame sizes and frame intervals.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

namespace zentavo {

struct FRAME_SIZE {
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t minFrameIntervalMs = 0;  // 0 = none given
};

using FrameSizeList = std::vector<FRAME_SIZE>;
using FrameRateSet = std::set<uint32_t>;

// Ignores a size with a zero side; a size already listed keeps its place and
// only takes a non-zero interval shorter than the one it has.
void AddFrameSize(FrameSizeList& sizes, uint16_t width, uint16_t height, uint32_t minFrameIntervalMs = 0);

// Milliseconds between frames at fps, rounded; 1 for 0.
uint32_t FrameIntervalOf(uint32_t fps);

// The rate whose interval sizes without one of their own get: the highest
// supported, or 30 / 25 by the video standard when none is known.
uint32_t FallbackFrameRate(const FrameRateSet& rates, uint32_t videoStandard);

// The smallest rate not below the preferred one (half the highest when no
// preference); 0 when there is none.
uint32_t DefaultFrameRate(const FrameRateSet& rates, uint32_t preferred);

}  // namespace zentavo
