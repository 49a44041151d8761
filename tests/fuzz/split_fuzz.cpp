// Splitting arbitrary text: joining the pieces again gives the text back,
// less one trailing delimiter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char delimiter = static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto pieces = zentavo::Split(text, delimiter);
    if (text.empty()) {
        if (!pieces.empty()) std::abort();
        return 0;
    }
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].find(delimiter) != std::string::npos) std::abort();
        if (i > 0) joined += delimiter;
        joined += pieces[i];
    }
    std::string expected = text;
    if (expected.back() == delimiter) expected.pop_back();
    if (joined != expected) std::abort();
    return 0;
}
