// How a media parser hands a finished frame back to the channel that owns it
// and asks that channel for the facts it needs to fill a host frame.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "host/HostContract.h"

namespace zentavo {

class IMediaParserClient {
public:
    virtual ~IMediaParserClient() = default;
    // Offers a finished frame; true when the host accepted it. The frame stays
    // the parser's, which releases it afterwards.
    virtual bool OnFrameReady(ipcapture::IHostFrame* frame) = 0;
    virtual std::pair<uint32_t, uint32_t> GetRequestedSize() = 0;
    virtual void GetSourceName(std::string& name) = 0;
    // Called exactly once per frame, in frame order (RTP clients advance their
    // timestamp converter with every call).
    virtual void GetCaptureTime(uint32_t rtpTimestamp, SYSTEMTIME& time) = 0;
};

}  // namespace zentavo
