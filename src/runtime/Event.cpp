#include "runtime/Event.h"

namespace zentavo {

CEvent::CEvent(bool manualReset)
    : m_handle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)), m_manualReset(manualReset) {
    if (m_handle == nullptr) m_createError = GetLastError();
}

CEvent::~CEvent() {
    if (m_handle != nullptr) CloseHandle(m_handle);
}

bool CEvent::Set() {
    if (m_handle == nullptr) return false;
    // Published before the kernel object so that a poller never sees the
    // event clear after a waiter has been released by it. A manual-reset
    // event the mirror already shows set is set in the kernel too: Reset
    // clears the kernel object before the mirror, so a Set that races a
    // Reset and is skipped here counts as coming before that Reset.
    const bool wasSet = m_setMirror.exchange(true, std::memory_order_acq_rel);
    if (m_manualReset && wasSet) return true;
    return SetEvent(m_handle) != FALSE;
}

bool CEvent::Reset() {
    if (m_handle == nullptr) return false;
    // Kernel first, then the mirror: see Set.
    const bool reset = ResetEvent(m_handle) != FALSE;
    if (reset) m_setMirror.store(false, std::memory_order_release);
    return reset;
}

bool CEvent::Wait(unsigned ms) {
    if (m_handle == nullptr) return false;
    const DWORD result = WaitForSingleObject(m_handle, ms);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
}

unsigned WaitAny(CEvent* const* events, unsigned count, unsigned ms) {
    if (events == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return WAIT_ANY_NONE;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (unsigned i = 0; i < count; ++i) {
        if (events[i] == nullptr || events[i]->Handle() == nullptr) return WAIT_ANY_NONE;
        handles[i] = events[i]->Handle();
    }
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE, ms);
    if (result < WAIT_OBJECT_0 + count) return result - WAIT_OBJECT_0;
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) return result - WAIT_ABANDONED_0;
    return WAIT_ANY_NONE;
}

}  // namespace zentavo
