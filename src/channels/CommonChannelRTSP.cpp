#include "channels/CommonChannelRTSP.h"

#include "channels/StreamingStep.h"

namespace zentavo {

CCommonChannelRTSP::CCommonChannelRTSP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CBaseRTSPChannel(channelIndex, driver, callback), CBaslerChannelHelper(driver) {}

CCommonChannelRTSP::~CCommonChannelRTSP() = default;

void CCommonChannelRTSP::Interrupt() {
    // A configuration exchange blocked on the network returns at once.
    Sender().CloseRequest();
}

bool CCommonChannelRTSP::PrepareStream() { return ConfigureStream() && ExecuteStreamingStep(*this, m_rtspPort); }

void CCommonChannelRTSP::PrepareClientSettings(RTSP_CLIENT_SETTINGS& settings) {
    settings.mediaIndex = 1;
    settings.path = GetStreamPath();
    if (m_rtspPort != 0) settings.port = m_rtspPort;
}

}  // namespace zentavo
