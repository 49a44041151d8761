// One RTP packet (RFC 3550): fixed header, CSRC list, header extension and
// payload, parsed from a datagram and owning copies of its parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zentavo {

class CRTPPacket {
public:
    CRTPPacket() = default;
    virtual ~CRTPPacket() = default;

    // Frees the previous contents, then parses a datagram; false for
    // anything that is not a well-formed version 2 packet with a payload
    // position inside the datagram.
    bool Parse(uint32_t length, const uint8_t* data);
    void Clear();

    uint8_t CsrcCount() const { return m_csrcCount; }
    const std::vector<uint8_t>& CsrcList() const { return m_csrcList; }
    // The four SSRC bytes as received (network order, not converted).
    uint32_t Ssrc() const { return m_ssrc; }
    uint8_t Marker() const { return m_marker; }
    uint8_t Padding() const { return m_padding; }
    uint8_t PayloadType() const { return m_payloadType; }
    uint16_t SequenceNumber() const { return m_sequenceNumber; }
    uint32_t Timestamp() const { return m_timestamp; }
    uint16_t ExtensionProfile() const { return m_extensionProfile; }
    uint16_t ExtensionLength() const { return m_extensionLength; }
    const std::vector<uint8_t>& ExtensionData() const { return m_extensionData; }
    uint32_t PayloadLength() const { return static_cast<uint32_t>(m_payload.size()); }
    const uint8_t* Payload() const { return m_payload.empty() ? nullptr : m_payload.data(); }

private:
    uint8_t m_csrcCount = 0;
    std::vector<uint8_t> m_csrcList;
    uint32_t m_ssrc = 0;
    uint8_t m_marker = 0;
    uint8_t m_padding = 0;
    uint8_t m_payloadType = 0;
    uint16_t m_sequenceNumber = 0;
    uint32_t m_timestamp = 0;
    uint16_t m_extensionProfile = 0;
    uint16_t m_extensionLength = 0;
    std::vector<uint8_t> m_extensionData;
    std::vector<uint8_t> m_payload;
};

}  // namespace zentavo
