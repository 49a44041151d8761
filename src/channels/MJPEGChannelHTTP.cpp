#include "channels/MJPEGChannelHTTP.h"

#include <functional>
#include <utility>

namespace zentavo {

const char* const CMJPEGChannelHTTP::kStreamResource = "/cgi-bin/mjpeg?stream=0&mode=live";

namespace {
const uint32_t kReconnectDelayMs = 200;
}

CMJPEGChannelHTTP::CMJPEGChannelHTTP(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback)
    : CBaseCameraChannel(channelIndex, driver, callback), CBaslerChannelHelper(driver), m_parser(driver) {
    m_parser.SetClient(this);
}

CMJPEGChannelHTTP::~CMJPEGChannelHTTP() {
    // The capture thread runs this object's code: it must end first.
    Stop();
}

void CMJPEGChannelHTTP::Interrupt() { Sender().CloseRequest(); }

bool CMJPEGChannelHTTP::IsSignalLost() {
    return m_lastFrameTime.ElapsedMs() > m_driver->GetDeviceInfo()->streamTimeoutMs;
}

bool CMJPEGChannelHTTP::OpenStream() {
    // Without a thread to read it the stream is not asked for: the camera is
    // left alone, and the channel goes to signal lost like one that cannot
    // connect.
    if (!Sender().PrepareStream()) return false;
    if (!ConfigureStream()) return false;
    if (m_stopEvent.IsSet()) return false;
    Web::HTTP_REQUEST request("GET", kStreamResource);
    return Sender().SendRequest(request);
}

uint32_t CMJPEGChannelHTTP::Run() {
    uint32_t waitMs = 0;
    while (!m_stopEvent.Wait(waitMs)) {
        if (OpenStream()) {
            m_lastFrameTime.Restart();
            SetState(CAMERA_STREAMING);
            ReadLoop();
        }
        Sender().CloseRequest();
        if (IsSignalLost()) {
            SetState(CAMERA_SIGNAL_LOST);
            ReportStreamLost();
            SetCameraState(false);
            waitMs = m_driver->GetDeviceInfo()->requestTimeoutMs;
        } else {
            waitMs = kReconnectDelayMs;
        }
    }
    SetState(CAMERA_STOPPED);
    SetCameraState(false);
    return 0;
}

namespace {

// The body goes to the channel on the thread that reads it: no hand-over
// between threads for a piece of a picture.
class CStreamFeed : public Web::IStreamSink {
public:
    explicit CStreamFeed(std::function<bool(const uint8_t*, size_t)> feed) : m_feed(std::move(feed)) {}
    bool OnStreamData(const uint8_t* data, size_t size) override { return m_feed(data, size); }

private:
    std::function<bool(const uint8_t*, size_t)> m_feed;
};

}  // namespace

void CMJPEGChannelHTTP::ReadLoop() {
    if (m_stopEvent.IsSet()) return;
    // Every piece is what arrived since the last one, in one block, so a
    // picture costs a few pieces rather than a few calls per network read.
    CStreamFeed feed([this](const uint8_t* data, size_t size) {
        if (m_stopEvent.IsSet()) return false;
        m_parser.ProcessData(data, size);
        return !IsSignalLost();
    });
    Sender().ReadStreamInto(feed);
}

bool CMJPEGChannelHTTP::OnFrameReady(ipcapture::IHostFrame* frame) {
    const bool accepted = DeliverFrame(frame);
    if (accepted) {
        m_lastFrameTime.Restart();
        SetCameraState(true);
    }
    return accepted;
}

std::pair<uint32_t, uint32_t> CMJPEGChannelHTTP::GetRequestedSize() { return {m_settings.width, m_settings.height}; }

void CMJPEGChannelHTTP::GetSourceName(std::string& name) { name = m_driver->GetDriverName(); }

void CMJPEGChannelHTTP::GetCaptureTime(uint32_t, SYSTEMTIME& time) { GetSystemTime(&time); }

}  // namespace zentavo
