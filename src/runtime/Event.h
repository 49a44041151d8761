// Win32 events: auto-reset by default, manual-reset through CManualEvent.
// Calls on an event whose handle could not be created report failure.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/PlatformTypes.h"

namespace zentavo {

class CEvent {
public:
    explicit CEvent(bool manualReset = false);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool Set();
    bool Reset();
    // True when signalled (or abandoned); false on time-out or failure.
    bool Wait(unsigned ms);
    HANDLE Handle() const { return m_handle; }
    // Why the handle could not be created (GetLastError then); 0 when it was.
    unsigned long CreateError() const { return m_createError; }

protected:
    HANDLE m_handle;
    const bool m_manualReset;
    unsigned long m_createError = 0;
    // What Set and Reset last made of the event: lets a manual-reset event
    // be polled without a system call (a wait is a server round trip under
    // Wine, and capture loops poll their stop event on every turn).
    std::atomic<bool> m_setMirror{false};
};

class CManualEvent : public CEvent {
public:
    CManualEvent() : CEvent(true) {}
    // Same answer as Wait(0) while the event is changed only through Set
    // and Reset, without entering the kernel. Set on an event that is
    // already set does not enter the kernel either, so an event set per
    // packet costs a system call only after each Reset.
    bool IsSet() const { return m_setMirror.load(std::memory_order_acquire); }
};

const unsigned WAIT_ANY_NONE = 0xFFFFFFFFu;

// Index of the first signalled (or abandoned) event; WAIT_ANY_NONE on
// time-out, failure, a null array or a null or handle-less entry.
unsigned WaitAny(CEvent* const* events, unsigned count, unsigned ms);

}  // namespace zentavo
