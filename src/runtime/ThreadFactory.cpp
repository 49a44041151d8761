#include "runtime/ThreadFactory.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "runtime/DebugMessage.h"
#include "runtime/LogLevels.h"
#include "runtime/SystemErrorText.h"

namespace zentavo {

namespace {

std::atomic<long> g_live{0};

struct LAUNCH {
    LPTHREAD_START_ROUTINE entry;
    void* parameter;
};

// Read at every start rather than once, so that a test can set and clear it
// around the part that fills the process; a thread start is rare enough.
// Negative when unset. 0 is a limit too: a test that sets the live count
// as the limit means "no further thread" also when none is running.
long TestLimit() {
    char value[32];
    const DWORD n = GetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", value, sizeof value);
    if (n == 0 || n >= sizeof value) return -1;
    char* end = nullptr;
    const long limit = std::strtol(value, &end, 10);
    return end != value ? limit : -1;
}

DWORD WINAPI Trampoline(LPVOID p) {
    LAUNCH launch = *static_cast<LAUNCH*>(p);
    delete static_cast<LAUNCH*>(p);
    DWORD result = 0;
    try {
        result = launch.entry(launch.parameter);
    } catch (...) {
        result = 1;
    }
    g_live.fetch_sub(1);
    return result;
}

}  // namespace

HANDLE CThreadFactory::Create(LPTHREAD_START_ROUTINE entry, void* parameter, bool suspended, DWORD* id) {
    const long limit = TestLimit();
    const long live = g_live.fetch_add(1) + 1;
    if (limit >= 0 && live > limit) {
        g_live.fetch_sub(1);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    LAUNCH* launch = new (std::nothrow) LAUNCH{entry, parameter};
    if (launch == nullptr) {
        g_live.fetch_sub(1);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD flags = STACK_SIZE_PARAM_IS_A_RESERVATION;
    if (suspended) flags |= CREATE_SUSPENDED;
    DWORD scratch = 0;
    HANDLE thread = CreateThread(nullptr, kStackReservation, &Trampoline, launch, flags, id != nullptr ? id : &scratch);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        delete launch;
        g_live.fetch_sub(1);
        SetLastError(error);
    }
    return thread;
}

long CThreadFactory::LiveThreads() { return g_live.load(); }

void CThreadFactory::LogStartFailure(IDebugMessage* log, const char* operation, const char* resource,
                                     const char* threadName, DWORD error) {
    if (log == nullptr) return;
    try {
        log->Message(LOG_ERROR, "%s: could not start %s \"%s\" for device %s: %s", operation, resource, threadName,
                     log->GetDeviceName().c_str(), SystemErrorText(error).c_str());
    } catch (...) {
    }
}

}  // namespace zentavo
