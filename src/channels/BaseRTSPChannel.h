// An RTP channel driven by an RTSP session: each connection attempt opens
// the local RTP/RTCP ports, then starts an RTSP client that describes, sets
// up and plays the camera's stream to them. What is particular to a camera
// family and codec comes from the derived channels through PrepareStream,
// HandlePacket, PrepareClientSettings and OnDescribe. The channel keeps the
// transport that works, gives up on a UDP stream that stays silent after
// PLAY, and says in one log line why an attempt failed.
#pragma once

#include <atomic>
#include <string>

#include "channels/BaseRTPChannel.h"
#include "channels/TransportChoice.h"
#include "host/LoggerInstance.h"
#include "streaming/BaseRTSPClient.h"
#include "streaming/IRTSPClientUser.h"

namespace zentavo {

class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser {
public:
    // How long UDP may stay silent after PLAY before TCP is tried.
    static constexpr uint32_t kUdpSilenceMs = 4000;

    CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CBaseRTSPChannel() override;

    bool StartTransport() override;
    void StopTransport() override;
    bool WaitForFirstFrame() override;
    // Completes the client's settings: at least path and media index.
    virtual void PrepareClientSettings(RTSP_CLIENT_SETTINGS& settings) = 0;

    // IRTSPClientUser (the RTSP client's thread)
    void OnRTCPBye() override;
    using CBaseRTPChannel::OnRTPPacket;
    void OnRTPPacket(CRTPPacket& packet) override;
    void OnSessionEnded() override;
    void OnSetupDone(const RTSP_RESPONSE& answer) override;

    CBaseRTSPClient& Client() { return m_client; }
    bool UsesInterleaved() const { return m_transport.UseInterleaved(); }

protected:
    CBaseRTSPClient m_client;
    CManualEvent m_sessionEndedEvent;

private:
    // Repeats of one cause are written once; a stream that worked in
    // between lets the same cause be written again.
    class CCauseLog : public CLoggerInstance {
    public:
        using CLoggerInstance::CLoggerInstance;
        void Forget();
    };

    void LogCause(int level, const char* operation, const std::string& cause);

    CTransportChoice m_transport;
    CCauseLog m_causeLog;
    // A client session runs (or ran) in the current attempt.
    bool m_sessionStarted = false;
    bool m_switchLogged = false;
    std::string m_host;
    uint16_t m_port = 0;
    std::atomic<bool> m_interleavedPackets{false};
};

}  // namespace zentavo
