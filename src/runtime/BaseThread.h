// A Win32 thread with an orderly join and a bounded stop that ends in forced
// termination. Run() must wait on m_stopEvent so that join and stop succeed.
//
// A class that implements Run() (or any hook Run() calls) must stop the
// thread in its own destructor: by the time this base destructor runs, the
// derived part the thread uses is already gone.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/DebugMessage.h"
#include "runtime/PlatformTypes.h"
#include "runtime/Event.h"

namespace zentavo {

class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* driver = nullptr);
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // False while the previous run is still alive or the thread could not
    // be created.
    virtual bool StartThread(const std::string& name);
    // Sets the stop event and waits; past ms it logs and waits for ever.
    // False when called on the thread itself.
    virtual bool JoinThread(unsigned ms);
    // Sets the stop event and waits; past ms it logs and terminates the
    // thread. False when called on the thread itself.
    virtual bool StopThread(unsigned ms);
    virtual void Run() = 0;

    bool IsRunning() const;
    bool IsStopRequested() { return m_stopEvent.Wait(0); }
    CManualEvent& StopEvent() { return m_stopEvent; }
    const std::string& Name() const { return m_name; }
    uint32_t ThreadId() const { return m_threadId; }

protected:
    std::string m_name;
    HANDLE m_thread;
    uint32_t m_threadId;
    IDebugMessage* m_driver;
    CManualEvent m_stopEvent;

private:
    static DWORD WINAPI Entry(LPVOID self);
    bool HasThread() const;
    bool IsCallerTheThread() const;
    std::string DeviceName() const;
    void CloseThread();
    void LogStartFailure(const char* resource, unsigned long error);
};

}  // namespace zentavo
