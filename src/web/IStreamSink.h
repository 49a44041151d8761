// Receives an endless response body on the thread that reads it, piece by
// piece as it arrives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Web {

class IStreamSink {
public:
    virtual ~IStreamSink() = default;
    // One piece of the body, in order; false ends the reading.
    virtual bool OnStreamData(const uint8_t* data, size_t size) = 0;
};

}  // namespace Web
