// Keyed-value lookup on arbitrary text: the value must be a stretch of the
// text that holds no delimiter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/TextUtils.h"

namespace {

// Takes a length-prefixed piece off the front of the input.
std::string Take(const uint8_t*& data, size_t& size, size_t limit) {
    if (size == 0) return std::string();
    size_t n = data[0] % (limit + 1);
    ++data;
    --size;
    if (n > size) n = size;
    std::string piece(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string key = Take(data, size, 12);
    const std::string separator = Take(data, size, 3);
    const std::string delimiters = Take(data, size, 4);
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string value = zentavo::FindValue(key, separator, text, delimiters);
    if (!value.empty()) {
        if (text.find(value) == std::string::npos) std::abort();
        if (value.find_first_of(delimiters) != std::string::npos) std::abort();
    }
    (void)zentavo::FindValueInt(key, separator, text, delimiters);
    return 0;
}
