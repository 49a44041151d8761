// Width and height of the pictures a parser delivers, and the coarse size
// class the host files them under.
#pragma once

#include <cstdint>

namespace zentavo {

class CPictureSize {
public:
    CPictureSize() = default;
    CPictureSize(uint32_t w, uint32_t h) : width(w), height(h) {}

    // 1: below 200 wide; 2: 200 to 399; 3: 400 to 1023 and wider than twice
    // the height (half-height formats); 4: everything else.
    uint32_t ResolutionClass() const;
    bool Empty() const { return width == 0 || height == 0; }
    void Clear() { width = height = 0; }

    uint32_t width = 0;
    uint32_t height = 0;
};

}  // namespace zentavo
