#include "host/HalvencapDriver.h"

#include <new>

#include "camera/BaslerIO.h"
#include "channels/ChannelFactory.h"

namespace zentavo {

CHalvencapDriver::~CHalvencapDriver() {
    // Close while the whole object still exists: channels and I/O threads
    // call back into this layer until they are stopped.
    Close();
}

bool CHalvencapDriver::OpenDevice(ipcapture::IDeviceConfig*) {
    m_deviceInfo.requestTimeoutMs = 5000;
    m_deviceInfo.streamTimeoutMs = 15000;
    const int32_t mode = GetParamInt(1);
    if (mode == INT32_MIN) return false;
    m_modeParameter = mode;
    LogOpened(GetParamString(2));
    return true;
}

bool CHalvencapDriver::CreateIO() {
    if (m_io == nullptr) m_io = new (std::nothrow) CBaslerIO(this);
    return m_io != nullptr;
}

ICameraChannel* CHalvencapDriver::CreateChannel(uint32_t channelIndex,
                                                ipcapture::IChannelCallback* callback) {
    return CreateCameraChannel(m_videoFormat, channelIndex, this, callback);
}

}  // namespace zentavo
