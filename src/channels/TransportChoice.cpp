#include "channels/TransportChoice.h"

namespace zentavo {

void CTransportChoice::OnSessionEnded(bool played, bool packetsArrived) {
    if (packetsArrived) {
        m_silentSessions = 0;
        // TCP costs the camera more; once a TCP session has ended, UDP
        // deserves another chance.
        m_interleaved = false;
        return;
    }
    // A session the server refused says nothing about the transport.
    if (!played) return;
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
