#include "web/DataWaiter.h"

#include "runtime/ThreadFactory.h"

namespace Web {

CDataWaiter::~CDataWaiter() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_cancelled = true;
    }
    m_changed.notify_all();
    if (m_thread != nullptr) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
}

DWORD WINAPI CDataWaiter::ThreadEntry(LPVOID self) {
    static_cast<CDataWaiter*>(self)->Run();
    return 0;
}

DWORD CDataWaiter::WaitForData(HINTERNET request) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_cancelled || m_stopping || request == nullptr)
        return 0;
    if (m_thread == nullptr) {
        // A process out of threads makes this a failed wait, said once per
        // run of failures: a channel retries several times a second.
        m_thread = zentavo::CThreadFactory::Create(&CDataWaiter::ThreadEntry, this, false, nullptr);
        if (m_thread == nullptr) {
            const DWORD error = GetLastError();
            if (!m_startFailed)
                zentavo::CThreadFactory::LogStartFailure(m_logger, "zentavo::CDataWaiter::WaitForData", "thread",
                                                         "HTTP data waiter", error);
            m_startFailed = true;
            return 0;
        }
        m_startFailed = false;
    }
    // A wait abandoned earlier may still hold the helper.
    m_changed.wait(lock, [this] { return m_cancelled || (!m_busy && m_job == nullptr); });
    if (m_cancelled)
        return 0;
    m_job = request;
    const uint64_t number = ++m_submitted;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_cancelled || m_finished == number; });
    if (m_cancelled)
        return 0;
    return m_result;
}

void CDataWaiter::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
}

void CDataWaiter::Rearm() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stopping)
        m_cancelled = false;
}

void CDataWaiter::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_job != nullptr; });
        if (m_job == nullptr)
            return;  // stopping with nothing to do
        HINTERNET request = m_job;
        const uint64_t number = m_submitted;
        m_job = nullptr;
        m_busy = true;
        lock.unlock();

        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available))
            available = 0;

        lock.lock();
        m_busy = false;
        m_result = available;
        m_finished = number;
        m_changed.notify_all();
        if (m_stopping)
            return;
    }
}

}  // namespace Web
