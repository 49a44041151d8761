#include "capability/FrameRules.h"

namespace zentavo {

void AddFrameSize(FrameSizeList& sizes, uint16_t width, uint16_t height, uint32_t minFrameIntervalMs) {
    if (width == 0 || height == 0) return;
    for (FRAME_SIZE& size : sizes) {
        if (size.width != width || size.height != height) continue;
        if (minFrameIntervalMs != 0 && minFrameIntervalMs < size.minFrameIntervalMs)
            size.minFrameIntervalMs = minFrameIntervalMs;
        return;
    }
    FRAME_SIZE size;
    size.width = width;
    size.height = height;
    size.minFrameIntervalMs = minFrameIntervalMs;
    sizes.push_back(size);
}

uint32_t FrameIntervalOf(uint32_t fps) {
    if (fps == 0) return 1;
    return static_cast<uint32_t>(1000.0 / fps + 0.5);
}

uint32_t FallbackFrameRate(const FrameRateSet& rates, uint32_t videoStandard) {
    if (!rates.empty()) return *rates.rbegin();
    return videoStandard != 0 ? 30 : 25;
}

uint32_t DefaultFrameRate(const FrameRateSet& rates, uint32_t preferred) {
    if (rates.empty()) return 0;
    const uint32_t target = preferred != 0 ? preferred : *rates.rbegin() / 2;
    const auto it = rates.lower_bound(target);
    return it != rates.end() ? *it : 0;
}

}  // namespace zentavo
