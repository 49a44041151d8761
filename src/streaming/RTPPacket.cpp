#include "streaming/RTPPacket.h"

#include <cstring>

#include "runtime/ByteReader.h"

namespace zentavo {

namespace {
constexpr size_t FIXED_HEADER = 12;
}

void CRTPPacket::Clear() {
    m_csrcCount = 0;
    m_csrcList.clear();
    m_ssrc = 0;
    m_marker = m_padding = m_payloadType = 0;
    m_sequenceNumber = 0;
    m_timestamp = 0;
    m_extensionProfile = m_extensionLength = 0;
    m_extensionData.clear();
    m_payload.clear();
}

bool CRTPPacket::Parse(uint32_t length, const uint8_t* data) {
    Clear();
    if (!data || length < FIXED_HEADER + 1) return false;
    CByteReader in(data, length);

    const uint8_t first = in.ReadU8();
    if ((first >> 6) != 2) return false;
    const uint8_t second = in.ReadU8();
    const uint16_t sequence = in.ReadU16BE();
    const uint32_t timestamp = in.ReadU32BE();
    uint8_t ssrc[4];
    in.ReadBytes(ssrc, sizeof ssrc);

    const uint8_t csrcCount = first & 0x0F;
    if (csrcCount) {
        // The list must leave at least one byte after it.
        if (size_t(csrcCount) * 4 >= in.Remaining()) return false;
        m_csrcList.resize(size_t(csrcCount) * 4);
        in.ReadBytes(m_csrcList.data(), m_csrcList.size());
    }
    m_csrcCount = csrcCount;

    if (first & 0x10) {
        if (!in.Has(4)) return false;
        m_extensionProfile = in.ReadU16BE();
        m_extensionLength = in.ReadU16BE();
        if (m_extensionLength) {
            const size_t bytes = size_t(m_extensionLength) * 4;
            if (!in.Has(bytes)) return false;
            m_extensionData.resize(bytes);
            in.ReadBytes(m_extensionData.data(), bytes);
        }
    }
    if (!in.Ok()) return false;

    std::memcpy(&m_ssrc, ssrc, sizeof ssrc);
    m_marker = second >> 7;
    m_padding = (first >> 5) & 1;
    m_payloadType = second & 0x7F;
    m_sequenceNumber = sequence;
    m_timestamp = timestamp;

    // The last byte counts the padding, itself included.
    const size_t padding = m_padding ? CByteReader(data, length).PeekAt(length - 1) : 0;
    if (padding > in.Remaining()) return false;
    const size_t payload = in.Remaining() - padding;
    if (payload) m_payload.assign(in.Current(), in.Current() + payload);
    return true;
}

}  // namespace zentavo
