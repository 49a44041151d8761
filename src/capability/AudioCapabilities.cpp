#include "capability/AudioCapabilities.h"

#include "runtime/TextUtils.h"

namespace zentavo {

std::string CAudioCapabilities::ToText() const {
    return FormatString("Count=%u; IsStereo=%u", static_cast<unsigned>(count), isStereo ? 1u : 0u);
}

}  // namespace zentavo
