#include "channels/TransportChoice.h"

namespace zentavo {

void CTransportChoice::OnUdpSilent() {
    m_interleaved = true;
    m_silentSessions = 0;
}

void CTransportChoice::OnSessionEnded(bool interleaved, bool played, bool packetsArrived) {
    if (packetsArrived) {
        // What worked once is what the camera and network allow.
        m_interleaved = interleaved;
        m_silentSessions = 0;
        return;
    }
    // A session the server refused says nothing about the transport, and
    // one on a transport already given up on has been counted.
    if (!played || interleaved != m_interleaved) return;
    if (++m_silentSessions >= kSilentSessionsBeforeSwitch) {
        m_silentSessions = 0;
        m_interleaved = !m_interleaved;
    }
}

void CTransportChoice::Reset() {
    m_interleaved = false;
    m_silentSessions = 0;
}

}  // namespace zentavo
