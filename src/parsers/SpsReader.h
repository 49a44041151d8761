// Reads the picture size from an H.264 sequence parameter set found near
// the start of a byte range (Annex B, three-byte start codes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "parsers/PictureSize.h"

namespace zentavo {

class CSpsReader {
public:
    // Only start codes beginning within this many bytes are considered.
    static constexpr size_t SEARCH_WINDOW = 64;

    // True when a sequence parameter set was found and read completely and
    // gave a plausible non-zero size.
    static bool Read(const uint8_t* data, size_t size, CPictureSize& out);
};

}  // namespace zentavo
