// The HTTP client face the device components hold: one request at a time,
// body read at once or piece by piece.
#pragma once

#include <cstdint>

#include "host/DeviceInfo.h"
#include "web/HttpRequest.h"

namespace Web {

class CBaseHttpSender {
public:
    explicit CBaseHttpSender(const zentavo::DEVICE_INFO& device) : m_deviceInfo(device) {}
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;
    virtual ~CBaseHttpSender() = default;

    virtual bool SendRequest(const HTTP_REQUEST& request) = 0;
    // May be called from another thread to unblock a reader.
    virtual void CloseRequest() = 0;
    virtual uint32_t GetAvailableBytes() = 0;
    virtual uint32_t ReadBody(ByteArray& out) = 0;
    virtual uint32_t ReadSome(ByteArray& out, unsigned maxBytes, bool clearFirst) = 0;

    const zentavo::DEVICE_INFO& GetDeviceInfo() const { return m_deviceInfo; }

protected:
    zentavo::DEVICE_INFO m_deviceInfo;
};

}  // namespace Web
