#include "channels/BaseRTSPChannel.h"

#include "channels/RTSPFailureText.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {
const char kStartOperation[] = "zentavo::CBaseRTSPChannel::StartTransport";
const char kStopOperation[] = "zentavo::CBaseRTSPChannel::StopTransport";
const char kWaitOperation[] = "zentavo::CBaseRTSPChannel::WaitForFirstFrame";
const unsigned kFirstFrameSliceMs = 100;
}  // namespace

void CBaseRTSPChannel::CCauseLog::Forget() {
    CLockGuard guard(m_lock);
    m_lastText.clear();
}

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CBaseRTPChannel(channelIndex, driver, callback), m_client(driver), m_causeLog(driver) {}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    // The client's thread calls back into this object: it ends first.
    m_client.Stop();
}

void CBaseRTSPChannel::LogCause(int level, const char* operation, const std::string& cause) {
    if (cause.empty() || m_driver == nullptr) return;
    m_causeLog.Log(level, "%s: %s: %s", operation, ChannelName().c_str(), cause.c_str());
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
    m_switchLogged = false;
    m_host = settings.host;
    m_port = settings.port;
    m_sessionEndedEvent.Reset();
    if (!m_client.Start(settings, this)) {
        if (!m_stopEvent.Wait(0))
            LogCause(LOG_ERROR, kStartOperation, DescribeRtspFailure(m_client.Result(), m_host, m_port));
        return false;
    }
    m_sessionStarted = true;
    return true;
}

bool CBaseRTSPChannel::WaitForFirstFrame() {
    CEvent* const events[] = {&m_stopEvent, &m_frameEvent};
    CTime started;
    const uint32_t timeoutMs = StreamTimeoutMs();
    for (;;) {
        const unsigned which = WaitAny(events, 2, kFirstFrameSliceMs);
        if (which == 0) return false;
        // Only a switch that worked is news: a camera that refuses TCP as
        // well gets its one error line, not this one before it each time.
        if (m_client.SessionInterleaved() && !m_transport.UseInterleaved() && !m_switchLogged &&
            m_client.HasPlayed()) {
            m_switchLogged = true;
            m_causeLog.Log(LOG_INFO, "%s: %s: camera refused RTP over UDP: switched to RTP over TCP", kWaitOperation,
                           ChannelName().c_str());
        }
        if (which == 1) {
            m_causeLog.Forget();
            return true;
        }
        const bool timedOut = started.ElapsedMs() >= timeoutMs;
        // Networks that drop UDP let PLAY through and nothing after it. A
        // stream time-out shorter than the bound ends the wait earlier.
        const uint64_t playTick = m_client.PlayTick();
        const uint64_t sincePlay = playTick != 0 ? GetTickCount64() - playTick : 0;
        if (!m_client.SessionInterleaved() && playTick != 0 && !m_packetEvent.Wait(0) &&
            (sincePlay >= kUdpSilenceMs || timedOut)) {
            m_transport.OnUdpSilent();
            const unsigned seconds = unsigned(sincePlay < 1000 ? 1 : sincePlay / 1000);
            m_causeLog.Log(LOG_INFO, "%s: %s: no RTP over UDP within %u s: switching to RTP over TCP", kWaitOperation,
                           ChannelName().c_str(), seconds);
            return false;
        }
        if (timedOut) return false;
    }
}

void CBaseRTSPChannel::StopTransport() {
    m_client.Stop();
    if (m_sessionStarted && !m_stopEvent.Wait(0)) {
        const bool interleaved = m_client.SessionInterleaved();
        const bool packets = interleaved ? m_interleavedPackets.load() : m_packetEvent.Wait(0);
        m_transport.OnSessionEnded(interleaved, m_client.HasPlayed(), packets);
        LogCause(LOG_ERROR, kStopOperation, DescribeRtspFailure(m_client.Result(), m_host, m_port));
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

void CBaseRTSPChannel::OnSetupDone(const RTSP_RESPONSE& answer) {
    // Over UDP the camera may wait for receiver reports before it sends a
    // sender report of its own; over TCP RTCP shares the connection.
    if (m_client.SessionInterleaved() || answer.serverRtcpPort == 0) return;
    m_rtcp.SetPeerHint(CameraAddress(), answer.serverRtcpPort);
}

void CBaseRTSPChannel::OnSessionEnded() { m_sessionEndedEvent.Set(); }

}  // namespace zentavo
