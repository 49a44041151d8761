// Hex decoding of arbitrary text: one byte per pair plus one for an odd tail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<uint8_t> out(3, 0xAA);
    zentavo::HexDecode(text, out);
    if (out.size() != (size + 1) / 2) std::abort();
    if (size % 2 == 1 && out.back() > 15) std::abort();
    return 0;
}
