#include "parsers/FrameDelivery.h"

#include <cstring>
#include <string>

#include "channels/IMediaParserClient.h"
#include "host/HostContract.h"
#include "host/IDriver.h"

namespace zentavo {

uint32_t FrameCapacityFor(size_t dataSize) {
    if (dataSize <= 4096) return 4096;
    if (dataSize <= 16384) return 16384;
    if (dataSize <= 32768) return 32768;
    if (dataSize <= 131072) return 131072;
    return static_cast<uint32_t>(dataSize);
}

namespace {

ipcapture::IHostFrame* CreateHostFrame(ipcapture::IFrameFactory* factory, IMediaParserClient* client,
                                       const FRAME_DESCRIPTION& description) {
    try {
        std::string source;
        client->GetSourceName(source);
        return factory->CreateFrame(description.code, description.capacity, source.c_str());
    } catch (...) {
        return nullptr;
    }
}

DeliveryResult FillAndOffer(ipcapture::IHostFrame* frame, IMediaParserClient* client,
                            const FRAME_DESCRIPTION& description, const uint8_t* data, uint32_t size) {
    try {
        SYSTEMTIME captureTime{};
        client->GetCaptureTime(description.rtpTimestamp, captureTime);
        frame->SetWidth(description.size.width);
        frame->SetHeight(description.size.height);
        frame->SetResolutionClass(description.size.ResolutionClass());
        frame->SetDataSize(size);
        frame->SetCode(description.code);
        frame->SetCaptureTime(&captureTime);

        // The data area is asked for only once the frame knows its size: a
        // host may size or move its buffer in SetDataSize, and a pointer
        // taken earlier would then be stale.
        uint8_t* area = frame->GetDataArea();
        if (!area) return DeliveryResult::CopyFailed;
        std::memcpy(area, data, size);
    } catch (...) {
        return DeliveryResult::CopyFailed;
    }
    try {
        return client->OnFrameReady(frame) ? DeliveryResult::Accepted : DeliveryResult::Refused;
    } catch (...) {
        return DeliveryResult::Refused;
    }
}

}  // namespace

DeliveryResult DeliverFrame(IDriver* driver, IMediaParserClient* client,
                            const FRAME_DESCRIPTION& description, const uint8_t* data, size_t size) {
    if (!driver || !client || !data || size == 0) return DeliveryResult::NotCreated;
    // A frame larger than the capacity asked for would be written past the
    // host's buffer; the callers never ask for less, this keeps it so.
    if (size > description.capacity) return DeliveryResult::NotCreated;
    auto* factory = static_cast<ipcapture::IFrameFactory*>(driver->GetHostContext());
    if (!factory) return DeliveryResult::NotCreated;

    ipcapture::IHostFrame* frame = CreateHostFrame(factory, client, description);
    if (!frame) return DeliveryResult::NotCreated;

    const DeliveryResult result = FillAndOffer(frame, client, description, data, static_cast<uint32_t>(size));
    try {
        factory->ReleaseFrame(frame);
    } catch (...) {
    }
    return result;
}

}  // namespace zentavo
