// The choices stream configuration makes from what the camera offers: the
// frame-rate entry, the quality value on the camera's scale, and the output
// size entry. Pure functions, so they are tested on their own.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerRequest.h"

namespace zentavo {

// "Fps_<n>" for the interval's rate, or the first fractional entry of that
// rate ("Fps_7_5" for 7); empty when there is none or no interval.
std::string ChooseFrameRateEntry(const EntryNameSet& entries, uint32_t frameIntervalMs);

// The requested quality (1 to 100) on the camera's min..max scale, on its
// increment grid; empty when the camera gives no usable range.
std::string MapQuality(const PARAM_RANGE& range, uint32_t quality);

// Orders "Size_<w>x<h>" names by width, then height; other names by text.
bool SizeEntryLess(const std::string& a, const std::string& b);

// The smallest offered size not smaller than the wanted one, else the
// largest offered; empty when nothing is offered.
std::string ChooseSizeEntry(const EntryNameSet& entries, const std::string& wanted);

}  // namespace zentavo
