// Audio channels of a probed device, in the text form the host shows.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

class CAudioCapabilities {
public:
    virtual ~CAudioCapabilities() = default;

    // "Count=%u; IsStereo=%u"
    std::string ToText() const;

    uint32_t count = 0;  // 0 = none
    bool isStereo = false;
};

}  // namespace zentavo
