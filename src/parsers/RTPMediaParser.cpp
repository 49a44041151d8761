#include "parsers/RTPMediaParser.h"

#include <string>

#include "host/IDriver.h"
#include "parsers/FrameCodes.h"
#include "parsers/FrameDelivery.h"

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

void CRTPMediaParser::DeliverFrameBuffer(uint32_t code, uint32_t timestamp, const char* operation) {
    FRAME_DESCRIPTION description;
    description.code = code;
    description.size = m_size;
    description.capacity = FrameCapacityFor(m_frameBuffer.size());
    description.rtpTimestamp = timestamp;

    switch (DeliverFrame(m_driver, m_client, description, m_frameBuffer.data(), m_frameBuffer.size())) {
    case DeliveryResult::CopyFailed: {
        const std::string device = m_driver->GetDeviceName();
        m_driver->Message(LOG_ERROR, "%s: Data copying error, device %s", operation, device.c_str());
        Reset();
        break;
    }
    case DeliveryResult::Refused:
        Reset();
        break;
    default:
        break;
    }
}

}  // namespace zentavo
