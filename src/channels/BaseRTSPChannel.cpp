#include "channels/BaseRTSPChannel.h"

namespace zentavo {

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CBaseRTPChannel(channelIndex, driver, callback), m_client(driver) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    // The client's thread calls back into this object: it ends first.
    m_client.Stop();
}

bool CBaseRTSPChannel::StartTransport() {
    if (!CBaseRTPChannel::StartTransport()) return false;
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    RTSP_CLIENT_SETTINGS settings;
    settings.host = device->address;
    settings.userName = device->userName;
    settings.password = device->password;
    settings.connectTimeoutMs = static_cast<int32_t>(device->requestTimeoutMs);
    settings.receiveTimeoutMs = static_cast<int32_t>(device->requestTimeoutMs);
    settings.clientRtpPort = m_receiver.GetPort();
    settings.clientRtcpPort = m_rtcp.GetPort();
    settings.interleaved = m_transport.UseInterleaved();
    PrepareClientSettings(settings);
    if (m_stopEvent.Wait(0)) return false;
    m_interleavedPackets = false;
    m_sessionInterleaved = settings.interleaved;
    m_sessionEndedEvent.Reset();
    if (!m_client.Start(settings, this)) return false;
    m_sessionStarted = true;
    return true;
}

void CBaseRTSPChannel::StopTransport() {
    m_client.Stop();
    if (m_sessionStarted && !m_stopEvent.Wait(0)) {
        const bool packets = m_sessionInterleaved ? m_interleavedPackets.load() : m_packetEvent.Wait(0);
        m_transport.OnSessionEnded(m_client.HasPlayed(), packets);
    }
    m_sessionStarted = false;
    CBaseRTPChannel::StopTransport();
}

void CBaseRTSPChannel::OnRTCPBye() { m_byeEvent.Set(); }

void CBaseRTSPChannel::OnRTPPacket(CRTPPacket& packet) {
    m_interleavedPackets = true;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    AcceptPacket(packet, now.QuadPart);
}

void CBaseRTSPChannel::OnSessionEnded() { m_sessionEndedEvent.Set(); }

}  // namespace zentavo
