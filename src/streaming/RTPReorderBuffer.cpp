#include "streaming/RTPReorderBuffer.h"

namespace zentavo {

void CRTPReorderBuffer::Clear() {
    m_started = false;
    m_haveCandidate = false;
    m_held.clear();
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
