// Enumeration entries as the camera lists them: malformed text must give an
// empty map, well-formed names must stay within their bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/BaslerRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const zentavo::EntriesMap entries = zentavo::ParseEntries(text);
    if (!entries.empty() && text.find('(') == std::string::npos)
        abort();
    for (const auto& entry : entries) {
        if (entry.first.size() > 63 || entry.first.find('"') != std::string::npos)
            abort();
        if (entry.first.find_first_of(" \t\r\n\v\f()") != std::string::npos)
            abort();
    }
    return 0;
}
