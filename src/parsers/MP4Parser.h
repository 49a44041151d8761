// Reads the picture size from MPEG-4 Visual configuration headers (visual
// object sequence, visual object, video object layer) or from a short
// (H.263 style) picture header at the start of a byte range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parsers/PictureSize.h"

namespace zentavo {

class CBitReader;

class CMP4Parser {
public:
    CMP4Parser() = default;
    virtual ~CMP4Parser() = default;

    // On success size is the exact picture size when both exact values are
    // positive, else the coded size (multiples of 16).
    bool ParseHeader(const uint8_t* data, size_t length, CPictureSize& size);

    const CPictureSize& CodedSize() const { return m_coded; }
    const CPictureSize& ExactSize() const { return m_exact; }

private:
    bool ParseVisualObjectHeaders(CBitReader& bits, bool& searchVol);
    bool ParseVideoObjectLayer(CBitReader& bits);
    bool ParseShortHeader(CBitReader& bits);
    bool Finish(CPictureSize& size) const;

    CPictureSize m_coded;
    CPictureSize m_exact;
};

}  // namespace zentavo
