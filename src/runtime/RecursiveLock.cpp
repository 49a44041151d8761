#include "runtime/RecursiveLock.h"

#include <new>

namespace zentavo {

namespace {

const int32_t kSpinCount = 4000;

// 0 = not read yet; otherwise the processor count, read once per process.
std::atomic<int32_t> g_processorCount{0};

int32_t ProcessorCount() {
    int32_t count = g_processorCount.load(std::memory_order_acquire);
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
        g_processorCount.store(count, std::memory_order_release);
    }
    return count;
}

}  // namespace

CRecursiveLock::CRecursiveLock()
    : m_wakeEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_mappingHandle(nullptr),
      m_state(new STATE),
      m_wakePending(0) {
    static_assert(sizeof(STATE) == 16, "the lock state is four 32-bit fields");
    m_state->spinCount.store(0);
    m_state->lockCount.store(0);
    m_state->ownerThreadId.store(0);
    m_state->recursionCount.store(0);
    if (ProcessorCount() > 1) m_state->spinCount.exchange(kSpinCount);
}

CRecursiveLock::~CRecursiveLock() {
    if (m_wakeEvent != nullptr) CloseHandle(m_wakeEvent);
    delete m_state;
}

// Only the owner touches the recursion count, so it needs no locked
// instruction.
int32_t CRecursiveLock::AddRecursion(int32_t delta) {
    const int32_t value = m_state->recursionCount.load(std::memory_order_relaxed) + delta;
    m_state->recursionCount.store(value, std::memory_order_relaxed);
    return value;
}

void CRecursiveLock::TakeOwnership(uint32_t self) {
    m_state->ownerThreadId.store(self, std::memory_order_relaxed);
    m_state->recursionCount.store(1, std::memory_order_relaxed);
}

bool CRecursiveLock::TryOnce(uint32_t self) {
    // Reading first keeps spinning threads from bouncing the cache line
    // with failed exchanges while the lock is held.
    int32_t expected = 0;
    if (m_state->lockCount.load(std::memory_order_relaxed) == 0 &&
        m_state->lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        TakeOwnership(self);
        return true;
    }
    // Only this thread can have stored its own id, so a relaxed read is
    // enough to recognise a recursive acquisition.
    if (m_state->ownerThreadId.load(std::memory_order_relaxed) == self) {
        m_state->lockCount.fetch_add(1, std::memory_order_relaxed);
        AddRecursion(1);
        return true;
    }
    return false;
}

bool CRecursiveLock::TryLock() {
    const uint32_t self = GetCurrentThreadId();
    const int32_t spins = m_state->spinCount.load(std::memory_order_relaxed);
    for (int32_t attempt = 0; attempt <= spins; ++attempt)
        if (TryOnce(self)) return true;
    return false;
}

void CRecursiveLock::Lock() {
    if (TryLock()) return;
    const uint32_t self = GetCurrentThreadId();
    const int32_t count = m_state->lockCount.fetch_add(1, std::memory_order_acquire) + 1;
    if (count == 1) {
        TakeOwnership(self);
        return;
    }
    if (m_state->ownerThreadId.load(std::memory_order_relaxed) == self) {
        AddRecursion(1);
        return;
    }
    WaitForWake();
    TakeOwnership(self);
}

void CRecursiveLock::Unlock() {
    const uint32_t self = GetCurrentThreadId();
    if (m_state->ownerThreadId.load(std::memory_order_relaxed) != self) return;
    if (AddRecursion(-1) > 0) {
        m_state->lockCount.fetch_sub(1, std::memory_order_release);
        return;
    }
    m_state->ownerThreadId.store(0, std::memory_order_relaxed);
    if (m_state->lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) WakeOne();
}

void CRecursiveLock::WakeOne() {
    if (m_wakeEvent != nullptr) {
        SetEvent(m_wakeEvent);
    } else {
        m_wakePending.store(1, std::memory_order_release);
    }
}

void CRecursiveLock::WaitForWake() {
    if (m_wakeEvent != nullptr) {
        WaitForSingleObject(m_wakeEvent, INFINITE);
        return;
    }
    int32_t expected = 1;
    while (!m_wakePending.compare_exchange_weak(expected, 0, std::memory_order_acquire)) {
        expected = 1;
        SwitchToThread();
    }
}

}  // namespace zentavo
