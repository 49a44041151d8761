// An RTP channel driven by an RTSP session: each connection attempt opens
// the local RTP/RTCP ports, then starts an RTSP client that describes, sets
// up and plays the camera's stream to them. What is particular to a camera
// family and codec comes from the derived channels through PrepareStream,
// HandlePacket, PrepareClientSettings and OnDescribe.
#pragma once

#include <atomic>

#include "channels/BaseRTPChannel.h"
#include "channels/TransportChoice.h"
#include "streaming/BaseRTSPClient.h"
#include "streaming/IRTSPClientUser.h"

namespace zentavo {

class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser {
public:
    CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CBaseRTSPChannel() override;

    bool StartTransport() override;
    void StopTransport() override;
    // Completes the client's settings: at least path and media index.
    virtual void PrepareClientSettings(RTSP_CLIENT_SETTINGS& settings) = 0;

    // IRTSPClientUser (the RTSP client's thread)
    void OnRTCPBye() override;
    using CBaseRTPChannel::OnRTPPacket;
    void OnRTPPacket(CRTPPacket& packet) override;
    void OnSessionEnded() override;

    CBaseRTSPClient& Client() { return m_client; }
    bool UsesInterleaved() const { return m_transport.UseInterleaved(); }

protected:
    CBaseRTSPClient m_client;
    CManualEvent m_sessionEndedEvent;

private:
    CTransportChoice m_transport;
    // A client session runs (or ran) in the current attempt.
    bool m_sessionStarted = false;
    bool m_sessionInterleaved = false;
    std::atomic<bool> m_interleavedPackets{false};
};

}  // namespace zentavo
