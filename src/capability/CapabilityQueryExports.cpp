#include "capability/CapabilityQueryExports.h"

#include <new>

#include "capability/BaslerCapabilityQueryModule.h"
#include "runtime/RecursiveLock.h"

namespace zentavo {

namespace {

ipcapture::IIPCapabilityQuery* g_processQuery = nullptr;

CRecursiveLock& ProcessQueryLock() {
    static CRecursiveLock lock;
    return lock;
}

}  // namespace

ipcapture::IIPCapabilityQuery* CreateCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback,
                                                    uint32_t videoStandard) {
    try {
        return new (std::nothrow) CBaslerCapabilityQueryModule(callback, (videoStandard & 0xFF) != 0);
    } catch (...) {
        return nullptr;
    }
}

int32_t InitProcessCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback, uint32_t videoStandard) {
    CLockGuard guard(ProcessQueryLock());
    if (g_processQuery != nullptr) return 0;
    g_processQuery = CreateCapabilityQuery(callback, videoStandard);
    return 1;
}

int32_t StartProcessCapabilityQuery(const char* address, uint32_t port, const char* userName,
                                    const char* password, ipcapture::ICapabilityResults* results) {
    if (address == nullptr || userName == nullptr || password == nullptr) return 0;
    CLockGuard guard(ProcessQueryLock());
    if (g_processQuery == nullptr) return 0;
    return g_processQuery->Start(address, port, userName, password, results);
}

int32_t UninitProcessCapabilityQuery() {
    ipcapture::IIPCapabilityQuery* query = nullptr;
    {
        CLockGuard guard(ProcessQueryLock());
        query = g_processQuery;
        g_processQuery = nullptr;
    }
    // Destroyed outside the lock: it may wait for the probe thread, whose
    // callbacks may call the plain functions themselves.
    if (query != nullptr) query->DeletingDestructor(1);
    return 1;
}

int32_t TerminateProcessCapabilityQuery() {
    CLockGuard guard(ProcessQueryLock());
    if (g_processQuery != nullptr) g_processQuery->Terminate();
    return 1;
}

}  // namespace zentavo
