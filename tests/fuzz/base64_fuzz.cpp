// Base64 both ways on arbitrary bytes. Buffers are sized exactly, so any
// write past the reported room is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/TextUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    const int count = static_cast<int>(size);

    // Encoding: find the room it asks for, then round-trip.
    const int generous = count * 2 + 16;
    std::vector<char> big(static_cast<size_t>(generous));
    int capacity = generous;
    if (!zentavo::Base64Encode(data, count, big.data(), capacity)) std::abort();
    std::vector<char> exact(static_cast<size_t>(capacity));
    int exactCapacity = capacity;
    // The exact length may still be refused (the room rule keeps a spare
    // line break), but it must never be overrun.
    if (zentavo::Base64Encode(data, count, exact.data(), exactCapacity) &&
        std::memcmp(exact.data(), big.data(), static_cast<size_t>(capacity)) != 0)
        std::abort();

    std::vector<uint8_t> decoded(size + 1);
    int decodedCapacity = static_cast<int>(decoded.size());
    if (!zentavo::Base64Decode(big.data(), capacity, decoded.data(), decodedCapacity)) std::abort();
    if (decodedCapacity != count || std::memcmp(decoded.data(), data, size) != 0) std::abort();

    // Decoding the raw input as text, into rooms of every small size.
    const char* text = reinterpret_cast<const char*>(data);
    int total = 0;
    {
        std::vector<uint8_t> room(size + 1);
        total = static_cast<int>(room.size());
        zentavo::Base64Decode(text, count, room.data(), total);
    }
    for (int roomSize = 0; roomSize <= 4 && roomSize <= total; ++roomSize) {
        std::vector<uint8_t> room(static_cast<size_t>(roomSize));
        int cap = roomSize;
        const bool ok = zentavo::Base64Decode(text, count, roomSize ? room.data() : nullptr, cap);
        if (cap != total || ok != (total <= roomSize)) std::abort();
    }
    return 0;
}
