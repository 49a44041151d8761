// Compares the driver's recursive lock with a Win32 critical section in the
// same run: uncontended lock/unlock cost and contended throughput with two
// threads. Usage: bench_LockBench [iterations]
#include <cstdio>
#include <cstdlib>

#include "runtime/RecursiveLock.h"

namespace {

using zentavo::CRecursiveLock;

class CCriticalSection {
public:
    explicit CCriticalSection(DWORD spin) { InitializeCriticalSectionAndSpinCount(&m_section, spin); }
    ~CCriticalSection() { DeleteCriticalSection(&m_section); }
    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <class Lock>
double UncontendedNs(Lock& lock, long iterations) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (long i = 0; i < iterations; ++i) {
            lock.Lock();
            lock.Unlock();
        }
        QueryPerformanceCounter(&end);
        const double ns = Seconds(start, end) * 1e9 / double(iterations);
        if (ns < best) best = ns;
    }
    return best;
}

template <class Lock>
struct CContended {
    Lock* lock;
    long iterations;
    volatile long counter;
    HANDLE go;
};

template <class Lock>
DWORD WINAPI ContendedWorker(LPVOID p) {
    auto* shared = static_cast<CContended<Lock>*>(p);
    WaitForSingleObject(shared->go, INFINITE);
    for (long i = 0; i < shared->iterations; ++i) {
        shared->lock->Lock();
        shared->counter = shared->counter + 1;
        shared->lock->Unlock();
    }
    return 0;
}

// Returns operations per second over both threads; -1 if the count is off.
template <class Lock>
double ContendedOpsPerSecond(Lock& lock, long iterations) {
    CContended<Lock> shared{&lock, iterations, 0, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE threads[2];
    for (HANDLE& t : threads) t = CreateThread(nullptr, 0, &ContendedWorker<Lock>, &shared, 0, nullptr);
    Sleep(50);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    SetEvent(shared.go);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    QueryPerformanceCounter(&end);
    for (HANDLE t : threads) CloseHandle(t);
    CloseHandle(shared.go);
    if (shared.counter != 2 * iterations) return -1;
    return double(2 * iterations) / Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::atol(argv[1]) : 10000000;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    std::printf("processors: %lu, iterations: %ld\n", static_cast<unsigned long>(info.dwNumberOfProcessors),
                iterations);

    CRecursiveLock recursive;
    CCriticalSection section(0);
    CCriticalSection spinningSection(4000);
    const double nsRecursive = UncontendedNs(recursive, iterations);
    const double nsSection = UncontendedNs(section, iterations);
    const double nsSpinning = UncontendedNs(spinningSection, iterations);
    std::printf("uncontended CRecursiveLock            %8.2f ns/op\n", nsRecursive);
    std::printf("uncontended CRITICAL_SECTION          %8.2f ns/op\n", nsSection);
    std::printf("uncontended CRITICAL_SECTION spin4000 %8.2f ns/op\n", nsSpinning);
    std::printf("ratio CRecursiveLock / CRITICAL_SECTION: %.2f\n", nsRecursive / nsSection);

    const long contended = iterations / 5;
    const double opsRecursive = ContendedOpsPerSecond(recursive, contended);
    const double opsSection = ContendedOpsPerSecond(section, contended);
    const double opsSpinning = ContendedOpsPerSecond(spinningSection, contended);
    std::printf("contended (2 threads) CRecursiveLock            %10.0f ops/s%s\n", opsRecursive,
                opsRecursive < 0 ? "  COUNT MISMATCH" : "");
    std::printf("contended (2 threads) CRITICAL_SECTION          %10.0f ops/s%s\n", opsSection,
                opsSection < 0 ? "  COUNT MISMATCH" : "");
    std::printf("contended (2 threads) CRITICAL_SECTION spin4000 %10.0f ops/s%s\n", opsSpinning,
                opsSpinning < 0 ? "  COUNT MISMATCH" : "");
    if (opsSection > 0 && opsRecursive > 0)
        std::printf("ratio contended throughput CRecursiveLock / CRITICAL_SECTION: %.2f\n", opsRecursive / opsSection);
    return (opsRecursive < 0 || opsSection < 0 || opsSpinning < 0) ? 1 : 0;
}
