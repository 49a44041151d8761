// Which transport the next RTSP session asks for. Some networks let RTSP
// through but drop UDP: PLAY succeeds and no RTP ever comes. After two such
// sessions in a row the channel asks for RTP interleaved on the RTSP
// connection; a TCP session that carried packets sends it back to UDP
// when it ends, and two silent TCP sessions in a row do so as well.
#pragma once

#include <cstdint>

namespace zentavo {

class CTransportChoice {
public:
    static constexpr uint32_t kSilentSessionsBeforeSwitch = 2;

    bool UseInterleaved() const { return m_interleaved; }
    // One session ended. played: the server accepted PLAY; packetsArrived:
    // RTP of the stream came in.
    void OnSessionEnded(bool played, bool packetsArrived);
    void Reset();

private:
    bool m_interleaved = false;
    uint32_t m_silentSessions = 0;
};

}  // namespace zentavo
