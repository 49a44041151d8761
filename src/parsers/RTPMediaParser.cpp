#include "parsers/RTPMediaParser.h"

#include "host/IDriver.h"
#include "parsers/FrameCodes.h"

namespace zentavo {

void CRTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                       const std::vector<uint8_t>& config) {
    m_sps = sps;
    m_pps = pps;
    m_config = config;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (m_frameBuffer.size() <= MAX_FRAME_BUFFER_SIZE) return true;
    if (m_driver) {
        const DEVICE_INFO* device = m_driver->GetDeviceInfo();
        m_driver->Message(LOG_ERROR, "%s: Frame buffer overflow detected, device %s:%u",
                          "zentavo::CRTPMediaParser::CheckBufferSize",
                          device ? device->address.c_str() : "", device ? unsigned(device->port) : 0u);
    }
    return false;
}

bool CRTPMediaParser::CheckSequence(uint16_t sequenceNumber) {
    bool inOrder = true;
    if (m_firstPacket)
        m_firstPacket = false;
    else
        inOrder = sequenceNumber == static_cast<uint16_t>(m_lastSequence + 1);
    m_lastSequence = sequenceNumber;
    return inOrder;
}

}  // namespace zentavo
