// Hands one collected frame to the host: create a host frame from the
// factory, fill it, offer it to the parser's client and give it back. Every
// call into host objects is guarded: a throwing host counts as a failure and
// the frame is still released exactly once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parsers/PictureSize.h"

namespace zentavo {

class IDriver;
class IMediaParserClient;

enum class DeliveryResult {
    NotCreated,  // no factory, no client, nothing to send, or no frame given
    CopyFailed,  // the frame gave no data area
    Refused,     // the client (host) did not take the frame
    Accepted,
};

struct FRAME_DESCRIPTION {
    uint32_t code = 0;
    uint32_t capacity = 0;
    uint32_t rtpTimestamp = 0;
    CPictureSize size;
};

// Capacity steps the host pools frames by: 4096, 16384, 32768, 131072, and
// the exact size above that.
uint32_t FrameCapacityFor(size_t dataSize);

DeliveryResult DeliverFrame(IDriver* driver, IMediaParserClient* client,
                            const FRAME_DESCRIPTION& description, const uint8_t* data, size_t size);

}  // namespace zentavo
