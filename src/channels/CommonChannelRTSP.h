// An RTSP channel of this camera family: before every connection attempt it
// brings the camera's stream to the requested settings and its RTSP server
// to unicast streaming, and it tells the RTSP client which path and port to
// use. The codec channels add encoder, path and depacketizer.
#pragma once

#include <cstdint>
#include <string>

#include "camera/BaslerChannelHelper.h"
#include "channels/BaseRTSPChannel.h"

namespace zentavo {

class CCommonChannelRTSP : public CBaseRTSPChannel, public CBaslerChannelHelper {
public:
    CCommonChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CCommonChannelRTSP() override;

    void Interrupt() override;
    bool PrepareStream() override;
    void PrepareClientSettings(RTSP_CLIENT_SETTINGS& settings) override;
    virtual std::string GetStreamPath() = 0;

    // CBaslerChannelHelper
    bool IsStopRequested() override { return m_stopEvent.Wait(0); }
    STREAM_SETTINGS GetStreamSettings() override { return m_settings; }

    uint16_t RtspPort() const { return m_rtspPort; }

private:
    // From the camera's "Streaming.RTSPPort"; 0: the client's default.
    uint16_t m_rtspPort = 0;
};

}  // namespace zentavo
