#include "parsers/PictureSize.h"

namespace zentavo {

uint32_t CPictureSize::ResolutionClass() const {
    if (width < 200) return 1;
    if (width < 400) return 2;
    if (width < 1024 && width > 2 * uint64_t(height)) return 3;
    return 4;
}

}  // namespace zentavo
