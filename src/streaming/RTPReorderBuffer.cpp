#include "streaming/RTPReorderBuffer.h"

namespace zentavo {

void CRTPReorderBuffer::Clear() {
    m_started = false;
    m_haveCandidate = false;
    m_held.clear();
}

void CRTPReorderBuffer::SetPayloadTypes(const std::vector<uint8_t>& types) {
    m_declared[0] = m_declared[1] = 0;
    for (uint8_t type : types)
        if (type < 128) m_declared[type / 64] |= uint64_t(1) << (type % 64);
    m_filterTypes = m_declared[0] != 0 || m_declared[1] != 0;
    m_sawDeclared = false;
    m_undeclaredRun = 0;
}

bool CRTPReorderBuffer::Declared(uint8_t payloadType) {
    if (!m_filterTypes) return true;
    if (payloadType < 128 && (m_declared[payloadType / 64] >> (payloadType % 64) & 1)) {
        m_sawDeclared = true;
        m_undeclaredRun = 0;
        return true;
    }
    if (!m_sawDeclared && ++m_undeclaredRun >= MISLABELLED_AFTER) {
        m_filterTypes = false;
        return true;
    }
    return false;
}

bool CRTPReorderBuffer::IsHeld(uint16_t sequenceNumber) const {
    for (const CRTPPacket& held : m_held)
        if (held.SequenceNumber() == sequenceNumber) return true;
    return false;
}

size_t CRTPReorderBuffer::Lowest() const {
    size_t lowest = 0;
    for (size_t i = 1; i < m_held.size(); ++i)
        if (Distance(m_held[i]) < Distance(m_held[lowest])) lowest = i;
    return lowest;
}

}  // namespace zentavo
