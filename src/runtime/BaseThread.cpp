#include "runtime/BaseThread.h"

#include "runtime/ThreadFactory.h"

namespace zentavo {

namespace {

const DWORD kNoObjectExitCode = 0x123456;
const DWORD kEscapedExceptionExitCode = 1;
// After TerminateThread the thread ends asynchronously; wait this long for
// it so that it no longer touches the object when StopThread returns.
const DWORD kTerminationWaitMs = 5000;

}  // namespace

CBaseThread::CBaseThread(IDebugMessage* driver)
    : m_thread(nullptr), m_threadId(0), m_driver(driver) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

DWORD WINAPI CBaseThread::Entry(LPVOID self) {
    if (self == nullptr) return kNoObjectExitCode;
    // An exception escaping a thread would end the host process.
    try {
        static_cast<CBaseThread*>(self)->Run();
    } catch (...) {
        return kEscapedExceptionExitCode;
    }
    return 0;
}

bool CBaseThread::HasThread() const {
    return m_thread != nullptr && m_thread != INVALID_HANDLE_VALUE;
}

bool CBaseThread::IsCallerTheThread() const {
    return HasThread() && GetCurrentThreadId() == m_threadId;
}

bool CBaseThread::IsRunning() const {
    return HasThread() && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT;
}

std::string CBaseThread::DeviceName() const {
    return m_driver != nullptr ? m_driver->GetDeviceName() : std::string();
}

void CBaseThread::CloseThread() {
    if (HasThread()) CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
}

bool CBaseThread::StartThread(const std::string& name) {
    // A run that is still alive keeps its stop request: clearing it here
    // would leave a thread running that its owner believes is stopping.
    if (IsRunning()) return false;
    m_stopEvent.Reset();
    CloseThread();
    try {
        m_name = name;
    } catch (...) {
        m_name.clear();  // out of memory for the name: the thread can do without
    }
    // A thread without its stop event could never be stopped.
    if (m_stopEvent.Handle() == nullptr) {
        LogStartFailure("an event for thread", m_stopEvent.CreateError());
        return false;
    }
    // Created suspended so that the handle and id are in place before Run()
    // can look at them.
    DWORD id = 0;
    HANDLE thread = CThreadFactory::Create(&CBaseThread::Entry, this, true, &id);
    if (thread == nullptr) {
        LogStartFailure("thread", GetLastError());
        return false;
    }
    m_thread = thread;
    m_threadId = id;
    if (ResumeThread(thread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateThread(thread, 0);
        WaitForSingleObject(thread, kTerminationWaitMs);
        CloseThread();
        LogStartFailure("thread", error);
        return false;
    }
    return true;
}

void CBaseThread::LogStartFailure(const char* resource, unsigned long error) {
    CThreadFactory::LogStartFailure(m_driver, "zentavo::CBaseThread::StartThread", resource, m_name.c_str(), error);
}

bool CBaseThread::JoinThread(unsigned ms) {
    m_stopEvent.Set();
    if (!HasThread()) return true;
    if (IsCallerTheThread()) return false;
    const DWORD result = WaitForSingleObject(m_thread, ms);
    if (result == WAIT_TIMEOUT) {
        if (m_driver != nullptr) {
            m_driver->Message(LOG_WARNING,
                              "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                              "zentavo::CBaseThread::JoinThread", m_threadId, m_name.c_str(),
                              DeviceName().c_str(), static_cast<unsigned long>(ms));
        }
        WaitForSingleObject(m_thread, INFINITE);
        if (m_driver != nullptr) {
            m_driver->Message(LOG_INFO, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                              "zentavo::CBaseThread::JoinThread", m_threadId, m_name.c_str());
        }
    }
    CloseThread();
    return result != WAIT_FAILED;
}

bool CBaseThread::StopThread(unsigned ms) {
    m_stopEvent.Set();
    if (!HasThread()) return true;
    if (IsCallerTheThread()) return false;
    const DWORD result = WaitForSingleObject(m_thread, ms);
    if (result == WAIT_TIMEOUT) {
        if (m_driver != nullptr) {
            m_driver->Message(LOG_WARNING,
                              "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu "
                              "milliseconds and will be terminated!",
                              "zentavo::CBaseThread::StopThread", m_threadId, m_name.c_str(),
                              DeviceName().c_str(), static_cast<unsigned long>(ms));
        }
        TerminateThread(m_thread, 0);
        WaitForSingleObject(m_thread, kTerminationWaitMs);
    }
    CloseThread();
    return result != WAIT_FAILED;
}

}  // namespace zentavo
