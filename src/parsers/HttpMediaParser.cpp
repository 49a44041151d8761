#include "parsers/HttpMediaParser.h"

#include "host/IDriver.h"
#include "parsers/FrameCodes.h"

namespace zentavo {

bool CHttpMediaParser::CheckBufferSize() {
    if (m_frameBuffer.size() <= MAX_FRAME_BUFFER_SIZE) return true;
    if (m_driver) {
        const std::string device = m_driver->GetDeviceName();
        m_driver->Message(LOG_ERROR, "%s: Frame buffer overflow detected, device %s",
                          "zentavo::CHttpMediaParser::CheckBufferSize", device.c_str());
    }
    return false;
}

}  // namespace zentavo
