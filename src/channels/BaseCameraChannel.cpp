#include "channels/BaseCameraChannel.h"

#include <winsock2.h>

#include <cctype>
#include <new>

#include "runtime/SystemErrorText.h"
#include "runtime/TextUtils.h"
#include "runtime/ThreadFactory.h"

namespace zentavo {

CBaseCameraChannel::CBaseCameraChannel(uint32_t channelIndex, IDriver* driver,
                                       ipcapture::IChannelCallback* callback)
    : m_callback(callback), m_channelIndex(channelIndex), m_driver(driver) {}

CBaseCameraChannel::~CBaseCameraChannel() {
    // Concrete channels stop in their own destructors, while Run and
    // Interrupt still exist; this only tidies up what is left.
    m_stopEvent.Set();
    if (m_thread != nullptr) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    }
    CleanupWinsock();
}

void CBaseCameraChannel::StartWinsock() {
    if (m_winsockStarted) return;
    WSADATA data;
    m_winsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CBaseCameraChannel::CleanupWinsock() {
    if (!m_winsockStarted) return;
    WSACleanup();
    m_winsockStarted = false;
}

bool CBaseCameraChannel::Start(const STREAM_SETTINGS& settings) {
    Stop();
    m_settings = settings;
    StartWinsock();
    m_retryBackoff.Reset();
    if (!StartCaptureThread()) {
        CleanupWinsock();
        return false;
    }
    return true;
}

void CBaseCameraChannel::Stop() {
    // Asked to stop before going offline, so a frame the capture thread is
    // still handing over cannot bring the channel back online in between.
    m_stopEvent.Set();
    SetState(CAMERA_STOPPED);
    SetCameraState(false);
    StopThread();
    CleanupWinsock();
}

bool CBaseCameraChannel::Restart(const STREAM_SETTINGS& settings) {
    m_settings.frameIntervalMs = settings.frameIntervalMs;
    m_settings.width = settings.width;
    m_settings.height = settings.height;
    SetState(CAMERA_STOPPED);
    StopThread();
    return StartCaptureThread();
}

int32_t CBaseCameraChannel::GetState() {
    CLockGuard guard(m_stateLock);
    return m_state;
}

void CBaseCameraChannel::SetState(int32_t state) {
    CLockGuard guard(m_stateLock);
    m_state = state;
}

std::string CBaseCameraChannel::ChannelName() const {
    const std::string& address = m_driver->GetDeviceInfo()->address;
    if (m_driver->GetChannelCount() > 1)
        return FormatString("Video-server %s (channel %u)", address.c_str(), m_channelIndex);
    return FormatString("Camera %s", address.c_str());
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // The capture thread and the stopping thread both come here; a channel
    // that is being stopped does not go online again.
    CLockGuard guard(m_onlineLock);
    if (online && m_stopEvent.IsSet()) return;
    if (online == m_online) return;
    m_online = online;
    if (m_driver == nullptr) return;
    std::string name = ChannelName();
    const char* op = "zentavo::CBaseCameraChannel::SetCameraState";
    if (online) {
        m_driver->Message(LOG_INFO, "%s: %s is online", op, name.c_str());
        return;
    }
    switch (GetState()) {
        case CAMERA_SIGNAL_LOST:
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            m_driver->Message(LOG_ERROR, "%s: Signal was lost for %s", op, name.c_str());
            break;
        case CAMERA_STOPPED:
            m_driver->Message(LOG_INFO, "%s: %s is offline. Channel was stopped", op, name.c_str());
            break;
        default:
            m_driver->Message(LOG_ERROR, "%s: %s is offline or failed", op, name.c_str());
            break;
    }
}

bool CBaseCameraChannel::DeliverFrame(ipcapture::IHostFrame* frame) {
    if (m_callback == nullptr || frame == nullptr) return false;
    try {
        return m_callback->OnFrame(frame);
    } catch (...) {
        return false;  // the host's exception counts as a refusal
    }
}

void CBaseCameraChannel::ReportStreamLost() {
    if (m_callback == nullptr) return;
    try {
        m_callback->OnStreamLost();
    } catch (...) {
    }
}

DWORD WINAPI CBaseCameraChannel::ThreadEntry(LPVOID self) {
    if (self == nullptr) return 0x123456;
    // An exception escaping the capture thread would end the host process;
    // the channel is left as a stream that was lost.
    CBaseCameraChannel* channel = static_cast<CBaseCameraChannel*>(self);
    try {
        return channel->Run();
    } catch (const std::bad_alloc&) {
        channel->LogOutOfMemory("zentavo::CBaseCameraChannel::ThreadEntry", "go on capturing");
    } catch (...) {
    }
    channel->SetState(CAMERA_SIGNAL_LOST);
    return 1;
}

void CBaseCameraChannel::LogOutOfMemory(const char* operation, const char* what) {
    if (m_driver == nullptr) return;
    try {
        std::string name = ChannelName();
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        m_driver->Message(LOG_ERROR, "%s: could not %s for %s: %s", operation, what, name.c_str(),
                          SystemErrorText(ERROR_NOT_ENOUGH_MEMORY).c_str());
    } catch (...) {
        // Not even the line fits: the state the host polls still tells.
    }
}

bool CBaseCameraChannel::StartCaptureThread() {
    if (!m_threadLock.TryLock()) return false;
    bool started = false;
    DWORD error = 0;
    if (m_thread == nullptr) {
        m_stopEvent.Reset();
        DWORD id = 0;
        m_thread = CThreadFactory::Create(&CBaseCameraChannel::ThreadEntry, this, false, &id);
        if (m_thread == nullptr) error = GetLastError();
        m_threadId = m_thread != nullptr ? id : 0;
        started = m_thread != nullptr;
    }
    m_threadLock.Unlock();
    if (error != 0) {
        // Nothing of the channel runs: the host sees a stream that is lost
        // until it starts the channel again.
        SetState(CAMERA_SIGNAL_LOST);
        if (m_driver != nullptr) {
            try {
                std::string name = ChannelName();
                name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
                m_driver->Message(LOG_ERROR, "%s: could not start the video capture thread for %s: %s",
                                  "zentavo::CBaseCameraChannel::StartCaptureThread", name.c_str(),
                                  SystemErrorText(error).c_str());
            } catch (...) {
            }
        }
    }
    return started;
}

bool CBaseCameraChannel::WaitBeforeRetry(uint32_t limitMs, uint32_t alreadyWaitedMs) {
    const uint32_t delay = m_retryBackoff.NextDelayMs(limitMs);
    if (delay <= alreadyWaitedMs) return m_stopEvent.IsSet();
    return m_stopEvent.Wait(delay - alreadyWaitedMs);
}

void CBaseCameraChannel::StopThread() {
    m_stopEvent.Set();
    CLockGuard guard(m_threadLock);
    if (m_thread == nullptr) return;
    Interrupt();
    if (GetCurrentThreadId() == m_threadId) return;  // the handle stays
    const uint32_t bound = 2 * m_driver->GetDeviceInfo()->requestTimeoutMs;
    if (WaitForSingleObject(m_thread, bound) == WAIT_TIMEOUT) {
        std::string name = ChannelName();
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        m_driver->Message(LOG_WARNING, "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                          "zentavo::CBaseCameraChannel::StopThread", name.c_str());
        TerminateThread(m_thread, 0);
        WaitForSingleObject(m_thread, 1000);
    }
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
}

}  // namespace zentavo
