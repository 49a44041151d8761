#include "channels/MJPEGChannelHTTP.h"

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

void CMJPEGChannelHTTP::ReadLoop() {
    Web::CHttpSender& sender = Sender();
    for (;;) {
        if (m_stopEvent.IsSet()) return;
        // One turn per arrival: everything that came since the last turn,
        // in one piece, so a picture costs a few turns rather than a few
        // calls per network read.
        if (sender.ReadStream(m_buffer) == 0) return;
        if (m_stopEvent.IsSet()) return;
        m_parser.ProcessData(m_buffer.data(), m_buffer.size());
        if (IsSignalLost()) return;
    }
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
