// Waits for response data on a helper thread so that the waiting caller can
// be released at once by Cancel from another thread. Closing a request handle
// is not enough for that everywhere: some WinHTTP implementations let a
// synchronous wait for data run on until its receive time-out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

namespace zentavo {
class IDebugMessage;
}

namespace Web {

class CDataWaiter {
public:
    explicit CDataWaiter(zentavo::IDebugMessage* logger = nullptr) : m_logger(logger) {}
    CDataWaiter(const CDataWaiter&) = delete;
    CDataWaiter& operator=(const CDataWaiter&) = delete;
    // Joins the helper; a wait abandoned by Cancel ends with its handle's
    // close or time-out.
    ~CDataWaiter();

    // Bytes readable on request without blocking; 0 at the end of the data,
    // on failure and once cancelled.
    DWORD WaitForData(HINTERNET request);
    // Releases the current wait and refuses later ones until Rearm.
    void Cancel();
    void Rearm();

    // The thread's body, public only for the thread entry.
    void Run();

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    zentavo::IDebugMessage* m_logger;
    HANDLE m_thread = nullptr;   // from the driver's thread factory, started with the first wait
    bool m_startFailed = false;  // the last start failed and was logged
    bool m_stopping = false;
    bool m_cancelled = false;
    HINTERNET m_job = nullptr;   // handed to the helper, cleared when it takes it
    bool m_busy = false;         // the helper is inside a wait
    uint64_t m_submitted = 0;    // number of the last job handed over
    uint64_t m_finished = 0;     // number of the last job completed
    DWORD m_result = 0;
};

}  // namespace Web
