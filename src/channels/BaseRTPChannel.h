// A camera channel whose video arrives as RTP: it opens a local port pair
// for RTP and RTCP, lets the codec channel feed the packets to its
// depacketizer, turns RTP timestamps into capture times, and supervises the
// stream on the capture thread: reconnect after half the stream time-out
// without frames, report the loss to the host from the whole time-out on.
#pragma once

#include <atomic>
#include <cstdint>

#include "channels/BaseCameraChannel.h"
#include "channels/IMediaParserClient.h"
#include "channels/LatencyHistogram.h"
#include "channels/TimeStampConverter.h"
#include "streaming/IRTCPHandlerUser.h"
#include "streaming/IRTPReceiverUser.h"
#include "streaming/RTCPHandler.h"
#include "streaming/RTPReceiver.h"

namespace zentavo {

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IRTCPHandlerUser,
                        public IMediaParserClient {
public:
    static constexpr uint32_t kPeriodicIntervalMs = 30000;
    static constexpr uint16_t kFirstPort = 3556;
    static constexpr uint32_t kPortLimit = 4556;  // the last pair is 4554/4555
    // A port that already carries packets belongs to somebody else's stream.
    static constexpr uint32_t kQuietPortWaitMs = 500;

    CBaseRTPChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CBaseRTPChannel() override;

    uint32_t Run() override;

    virtual bool StartTransport();
    virtual void StopTransport();
    virtual void OnPeriodic() {}
    // Camera-side preparation before every connection attempt.
    virtual bool PrepareStream() = 0;
    // One packet of the camera's stream, in arrival order.
    virtual void HandlePacket(const CRTPPacket& packet) = 0;
    // After a connection attempt started: true once the first frame came,
    // false when the attempt is to be given up (stop, time-out, or the
    // transport found not to work).
    virtual bool WaitForFirstFrame();

    // IRTPReceiverUser
    void OnRTPPacket(const sockaddr_in& from, CRTPPacket& packet) override;
    void OnTimeout() override {}
    void OnClosed() override {}
    // IRTCPHandlerUser
    void OnRTCPBye() override;
    // IMediaParserClient
    bool OnFrameReady(ipcapture::IHostFrame* frame) override;
    std::pair<uint32_t, uint32_t> GetRequestedSize() override;
    void GetSourceName(std::string& name) override;
    void GetCaptureTime(uint32_t rtpTimestamp, SYSTEMTIME& time) override;

    uint32_t CameraAddress() const { return m_cameraAddress; }
    CRTPReceiver& Receiver() { return m_receiver; }
    CRTCPHandler& RtcpHandler() { return m_rtcp; }
    // Time from the arrival of a picture's last packet to its hand-off to
    // the host, over the channel's life. Read it only while no stream runs.
    const CLatencyHistogram& FrameLatency() const { return m_frameLatency; }

protected:
    bool StartStream();
    void StopStream();
    // The RTP port pair: receiver on an even port, RTCP on the next.
    bool StartPortPair();
    void StopPortPair();
    // A packet of the stream, whichever path it came by, read from the
    // network at arrivalTicks (QueryPerformanceCounter).
    void AcceptPacket(CRTPPacket& packet, int64_t arrivalTicks);
    // One log line with the frame latency percentiles, when there are any.
    void LogFrameLatency();
    uint32_t StreamTimeoutMs();
    // At most one line a minute while streaming, when the sequence numbers
    // showed gaps.
    void ReportPacketLoss();

    uint32_t m_periodicIntervalMs = kPeriodicIntervalMs;
    CTime m_periodicTimer;
    uint32_t m_cameraAddress;
    CTimeStampConverter m_timeStampConverter;
    CRTPReceiver m_receiver;
    CRTCPHandler m_rtcp;
    CManualEvent m_packetEvent;
    CManualEvent m_frameEvent;
    CManualEvent m_byeEvent;
    // Written on the thread that delivers packets.
    int64_t m_packetArrivalTicks = 0;
    CLatencyHistogram m_frameLatency;
    // Sequence gaps seen on the packet thread; each damages a frame.
    std::atomic<uint32_t> m_lossGaps{0};
    uint16_t m_lastSequence = 0;
    bool m_haveSequence = false;
    CTime m_lossTimer;
};

}  // namespace zentavo
