// The driver's one lock type: recursive, spins briefly on multi-processor
// machines, then blocks on an auto-reset event. Taking a free lock costs one
// atomic operation.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/PlatformTypes.h"

namespace zentavo {

class CRecursiveLock {
public:
    CRecursiveLock();
    ~CRecursiveLock();
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void Lock();
    bool TryLock();
    // Ignored when the calling thread does not hold the lock, so a stray
    // release cannot hand the lock to two threads at once.
    void Unlock();

private:
    struct STATE {
        std::atomic<int32_t> spinCount;
        std::atomic<int32_t> lockCount;      // holders (with recursion) plus waiters
        std::atomic<uint32_t> ownerThreadId;  // 0 when free
        std::atomic<int32_t> recursionCount;
    };

    bool TryOnce(uint32_t self);
    void TakeOwnership(uint32_t self);
    int32_t AddRecursion(int32_t delta);
    void WakeOne();
    void WaitForWake();

    HANDLE m_wakeEvent;
    HANDLE m_mappingHandle;  // never used here; state lives on the heap
    STATE* m_state;
    // Stands in for the wake event if the event could not be created, so
    // that exclusion holds even then (waiters yield instead of blocking).
    std::atomic<int32_t> m_wakePending;
};

// Holds a lock for one scope and releases it on every exit path.
class CLockGuard {
public:
    explicit CLockGuard(CRecursiveLock& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CLockGuard() { m_lock.Unlock(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CRecursiveLock& m_lock;
};

}  // namespace zentavo
