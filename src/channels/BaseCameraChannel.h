// What every camera channel shares: requested settings, one capture thread
// with orderly stop and forced termination, the camera state the host polls,
// the online flag with its log lines, and the hand-over of frames and loss
// reports to the host's channel callback. Concrete channels supply the
// thread body (Run) and a stop hook (Interrupt).
#pragma once

#include <cstdint>
#include <string>

#include "channels/ICameraChannel.h"
#include "channels/RetryBackoff.h"
#include "host/IDriver.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"
#include "runtime/Time.h"

namespace zentavo {

class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IChannelCallback* callback);
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    bool Start(const STREAM_SETTINGS& settings) override;
    void Stop() override;
    bool Restart(const STREAM_SETTINGS& settings) override;
    int32_t GetState() override;

    // Capture thread body; its result is the thread's exit code.
    virtual uint32_t Run() = 0;
    // Called by the stopping thread before it waits: must make a blocked
    // capture thread return. Runs concurrently with the capture thread.
    virtual void Interrupt() = 0;

    const STREAM_SETTINGS& Settings() const { return m_settings; }
    uint32_t ChannelIndex() const { return m_channelIndex; }

protected:
    void SetState(int32_t state);
    void SetCameraState(bool online);
    bool DeliverFrame(ipcapture::IHostFrame* frame);
    void ReportStreamLost();
    bool StartCaptureThread();
    void StopThread();
    // After a stream that could not be built: waits the back-off's next
    // delay (less alreadyWaitedMs, which the caller waits itself) on the
    // stop event. True when the channel is being stopped.
    bool WaitBeforeRetry(uint32_t limitMs, uint32_t alreadyWaitedMs = 0);
    // One line: the channel could not do what for want of memory.
    void LogOutOfMemory(const char* operation, const char* what);
    // After a stream that was built: the next failure retries soon again.
    void RetrySucceeded() { m_retryBackoff.Reset(); }
    // "Camera <address>" or "Video-server <address> (channel <n>)".
    std::string ChannelName() const;

    bool m_winsockStarted = false;
    bool m_online = false;
    CRecursiveLock m_onlineLock;  // orders the online transitions of both threads
    CRecursiveLock m_stateLock;
    int32_t m_state = CAMERA_STOPPED;
    CRecursiveLock m_threadLock;
    HANDLE m_thread = nullptr;
    uint32_t m_threadId = 0;
    ipcapture::IChannelCallback* m_callback;
    uint32_t m_channelIndex;
    IDriver* m_driver;
    STREAM_SETTINGS m_settings;
    CManualEvent m_stopEvent;
    CTime m_lastFrameTime;
    CRetryBackoff m_retryBackoff;  // used by the capture thread only

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);
    void StartWinsock();
    void CleanupWinsock();
};

}  // namespace zentavo
