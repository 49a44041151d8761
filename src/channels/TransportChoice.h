// Which transport the next RTSP session asks for. Some networks let RTSP
// through but drop UDP: PLAY succeeds and no RTP ever comes; some servers
// refuse one of the transports outright. The channel stays on whichever
// transport last carried packets, so a reconnect does not pay for the
// discovery again. Two played sessions in a row that carried nothing on
// the current transport send it to the other one.
#pragma once

#include <cstdint>

namespace zentavo {

class CTransportChoice {
public:
    static constexpr uint32_t kSilentSessionsBeforeSwitch = 2;

    bool UseInterleaved() const { return m_interleaved; }
    // UDP played but stayed silent past the channel's bound: TCP next.
    void OnUdpSilent();
    // One session ended. interleaved: the transport it actually used (the
    // client may have switched on a refusal); played: the server accepted
    // PLAY; packetsArrived: RTP of the stream came in.
    void OnSessionEnded(bool interleaved, bool played, bool packetsArrived);
    void Reset();

private:
    bool m_interleaved = false;
    uint32_t m_silentSessions = 0;
};

}  // namespace zentavo
