// Readings of the camera's answers that the capability probe relies on:
// the login endpoint's brace-delimited items and the parameter names that
// carry frame rates, compressions and picture sizes. Pure text work.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerRequest.h"
#include "capability/FrameRules.h"

namespace zentavo {

// The login endpoint answers like {'method': 'Status', 'success': 'true'}.
// True when it confirms method with success "true" (both exact); body then
// holds the answer without apostrophes, otherwise it is emptied.
bool ConfirmsAuthMethod(std::string& body, const std::string& method);
// Whether an (apostrophe-free) answer reports the login as enabled.
bool ReportsAuthEnabled(const std::string& body);

// Frame-rate mode names such as Fps_30 or Fps_7_5 give their whole frames
// per second; names of another shape are left out.
FrameRateSet FrameRatesOfModes(const EntryNameSet& modes);

// Encoder names H_264, MPEG4 and JPEG in any letter case; 0 for others.
int32_t CodecOfEncoderName(const std::string& name);

// Size_<width>x<height>; false for any other shape.
bool ReadSizeName(const std::string& name, uint16_t& width, uint16_t& height);

// left,top,width,height as received, when all four are given and width and
// height are plain non-zero decimals; false (and empty text) otherwise.
bool SensorAreaText(const std::string& left, const std::string& top, const std::string& width,
                    const std::string& height, std::string& text);

}  // namespace zentavo
