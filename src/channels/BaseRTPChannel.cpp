#include "channels/BaseRTPChannel.h"

#include <cctype>
#include <new>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {
constexpr uint32_t kLatePacketSteps = 100;
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CBaseCameraChannel(channelIndex, driver, callback),
      m_cameraAddress(driver != nullptr ? ResolveHost(driver->GetDeviceInfo()->address) : 0),
      m_receiver(driver),
      m_rtcp(driver) {
    m_periodicTimer.Restart();
    m_rtcp.SetUser(this);
}

CBaseRTPChannel::~CBaseRTPChannel() {
    // The most derived channel has stopped the capture thread already; this
    // only makes sure no socket thread outlives the hooks it calls.
    m_receiver.Stop();
    m_rtcp.Stop();
}

uint32_t CBaseRTPChannel::StreamTimeoutMs() { return m_driver->GetDeviceInfo()->streamTimeoutMs; }

uint32_t CBaseRTPChannel::Run() {
    m_lastFrameTime.Restart();
    for (;;) {
        uint32_t waitMs = 1000;
        if (GetState() == CAMERA_STREAMING) {
            if (m_periodicTimer.ElapsedMs() > m_periodicIntervalMs) {
                OnPeriodic();
                m_periodicTimer.Restart();
            }
            ReportPacketLoss();
        } else if (StartStream()) {
            if (WaitForFirstFrame()) {
                SetState(CAMERA_STREAMING);
                m_lossGaps = 0;
                m_lossTimer.Restart();
            } else {
                waitMs = 10;
            }
        }
        const bool stopping = m_stopEvent.Wait(waitMs);
        const uint32_t timeoutMs = StreamTimeoutMs();
        const uint32_t sinceFrame = m_lastFrameTime.ElapsedMs();
        if (sinceFrame >= timeoutMs / 2) {
            if (stopping) break;
            // Signal lost: the next turn builds the stream again.
            SetState(CAMERA_SIGNAL_LOST);
            if (sinceFrame >= timeoutMs) {
                ReportStreamLost();
                SetCameraState(false);
            }
        } else if (stopping) {
            break;
        }
    }
    StopStream();
    SetCameraState(false);
    LogFrameLatency();
    return 0;
}

bool CBaseRTPChannel::WaitForFirstFrame() {
    CEvent* const events[] = {&m_stopEvent, &m_frameEvent};
    return WaitAny(events, 2, StreamTimeoutMs()) == 1;
}

void CBaseRTPChannel::ReportPacketLoss() {
    if (m_lossTimer.ElapsedMs() < 60000) return;
    m_lossTimer.Restart();
    const uint32_t gaps = m_lossGaps.exchange(0);
    if (gaps == 0 || m_driver == nullptr) return;
    m_driver->Message(LOG_ERROR, "%s: %s: %u frames lost to packet loss in the last minute",
                      "zentavo::CBaseRTPChannel::Run", ChannelName().c_str(), gaps);
}

void CBaseRTPChannel::LogFrameLatency() {
    if (m_driver == nullptr || m_frameLatency.Count() == 0) return;
    std::string name = ChannelName();
    name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    m_driver->Message(LOG_INFO, "%s: Frame latency for %s: %llu frames, median %.1f ms, 99th percentile %.1f ms, longest %.1f ms",
                      "zentavo::CBaseRTPChannel::Run", name.c_str(),
                      static_cast<unsigned long long>(m_frameLatency.Count()), m_frameLatency.Percentile(0.5),
                      m_frameLatency.Percentile(0.99), m_frameLatency.MaxMs());
}

bool CBaseRTPChannel::StartStream() {
    StopStream();
    m_frameEvent.Reset();
    try {
        if (PrepareStream() && StartTransport()) {
            RetrySucceeded();
            return true;
        }
    } catch (const std::bad_alloc&) {
        // The process is out of address space; what the attempt made goes
        // below, and the next attempt may find memory again.
        LogOutOfMemory("zentavo::CBaseRTPChannel::StartStream", "start the stream");
    }
    StopStream();
    // The capture loop waits a second after a failed start itself; a camera
    // or a process that keeps failing is asked less and less often.
    WaitBeforeRetry(StreamTimeoutMs(), 1000);
    return false;
}

void CBaseRTPChannel::StopStream() {
    SetState(CAMERA_STOPPED);
    StopTransport();
}

bool CBaseRTPChannel::StartTransport() { return StartPortPair(); }

void CBaseRTPChannel::StopTransport() { StopPortPair(); }

bool CBaseRTPChannel::StartPortPair() {
    m_receiver.SetUser(this);
    m_haveSequence = false;
    for (uint32_t port = kFirstPort; port < kPortLimit; port += 2) {
        if (m_stopEvent.Wait(0)) return false;
        m_packetEvent.Reset();
        bool portTaken = false;
        if (m_receiver.Start(static_cast<uint16_t>(port))) {
            // Packets already flowing to this port are another stream's:
            // take the pair only when it stays quiet.
            CEvent* const events[] = {&m_stopEvent, &m_packetEvent};
            if (WaitAny(events, 2, kQuietPortWaitMs) != WAIT_ANY_NONE) {
                portTaken = true;
            } else if (m_rtcp.Start(m_cameraAddress, static_cast<uint16_t>(port + 1))) {
                return true;
            } else {
                portTaken = m_rtcp.PortTaken();
            }
        } else {
            portTaken = m_receiver.PortTaken();
        }
        m_receiver.Stop();
        m_rtcp.Stop();
        // Out of threads, sockets or memory (said by the part that failed):
        // the next pair would fail the same way.
        if (!portTaken) return false;
    }
    if (m_driver != nullptr) {
        std::string name = ChannelName();
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        m_driver->Message(LOG_ERROR, "%s: could not find a free UDP port pair between %u and %u for %s",
                          "zentavo::CBaseRTPChannel::StartPortPair", unsigned(kFirstPort), unsigned(kPortLimit - 1),
                          name.c_str());
    }
    return false;
}

void CBaseRTPChannel::StopPortPair() {
    m_receiver.Stop();
    m_rtcp.Stop();
}

void CBaseRTPChannel::OnRTPPacket(const sockaddr_in& from, CRTPPacket& packet) {
    // Only the camera may feed the depacketizer.
    if (from.sin_addr.s_addr != m_cameraAddress) return;
    AcceptPacket(packet, m_receiver.DeliveringArrivalTicks());
}

void CBaseRTPChannel::AcceptPacket(CRTPPacket& packet, int64_t arrivalTicks) {
    m_packetArrivalTicks = arrivalTicks;
    m_packetEvent.Set();
    const uint16_t sequence = packet.SequenceNumber();
    if (m_haveSequence) {
        const uint16_t step = uint16_t(sequence - m_lastSequence);
        // A few steps back is a late packet; far back, a restarted stream.
        const bool late = step >= 0x8000 && step > 0x10000 - kLatePacketSteps;
        if (step > 1 && step < 0x8000) ++m_lossGaps;
        if (step != 0 && !late) m_lastSequence = sequence;
    } else {
        m_lastSequence = sequence;
        m_haveSequence = true;
    }
    m_rtcp.UpdateSequence(sequence, packet.Timestamp());
    m_rtcp.NoteSourceSsrc(packet.Ssrc());
    HandlePacket(packet);
}

void CBaseRTPChannel::OnRTCPBye() { m_byeEvent.Set(); }

bool CBaseRTPChannel::OnFrameReady(ipcapture::IHostFrame* frame) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    if (m_packetArrivalTicks != 0 && frequency.QuadPart > 0)
        m_frameLatency.Add(double(now.QuadPart - m_packetArrivalTicks) * 1000.0 / double(frequency.QuadPart));
    m_frameEvent.Set();
    if (!DeliverFrame(frame)) return false;
    m_lastFrameTime.Restart();
    SetCameraState(true);
    return true;
}

std::pair<uint32_t, uint32_t> CBaseRTPChannel::GetRequestedSize() { return {m_settings.width, m_settings.height}; }

void CBaseRTPChannel::GetSourceName(std::string& name) { name = m_driver->GetDriverName(); }

void CBaseRTPChannel::GetCaptureTime(uint32_t rtpTimestamp, SYSTEMTIME& time) {
    m_timeStampConverter.Update(rtpTimestamp, CurrentTimeStamp());
    const uint64_t captureTime = m_timeStampConverter.CaptureTime();
    if (captureTime == 0 || !TimeStampToSystemTime(captureTime, time)) GetSystemTime(&time);
}

}  // namespace zentavo
