// What one more thread costs a process under this Windows (or Wine), with
// no driver loaded: says "before", starts N threads that only wait, says
// "after" and waits for its standard input to end. The scale benchmark
// reads resident memory at the two lines and subtracts the platform's own
// per-thread cost from the driver's memory per channel (under Wine every
// thread holds about 1 MiB resident, whatever its stack size; under
// Windows a few pages).
//   bench_IdleThreads.exe <N>
//
// With --max it says instead how many threads this process can have:
// threads with the given stack reservation (KiB; the driver's threads
// reserve 256) are started until one cannot be, then one line
// "max <threads> error <GetLastError> as=<bytes in use before> free=<bytes
// free before> perthread=<address space per thread, bytes>".
//   bench_IdleThreads.exe --max <stack KiB>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
HANDLE g_stop;
DWORD WINAPI Idle(void*) {
    WaitForSingleObject(g_stop, INFINITE);
    return 0;
}

size_t AddressSpace(size_t* free) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t used = 0, unused = 0;
    auto* at = static_cast<const char*>(info.lpMinimumApplicationAddress);
    auto* end = static_cast<const char*>(info.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < end && VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize != 0) {
        (region.State == MEM_FREE ? unused : used) += region.RegionSize;
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    *free = unused;
    return used;
}

int Max(size_t stackBytes) {
    size_t freeBefore = 0;
    const size_t before = AddressSpace(&freeBefore);
    unsigned n = 0;
    DWORD error = 0;
    for (;;) {
        HANDLE thread = CreateThread(nullptr, stackBytes, Idle, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == nullptr) {
            error = GetLastError();
            break;
        }
        CloseHandle(thread);
        if (++n >= 100000) break;
    }
    size_t freeAfter = 0;
    const size_t after = AddressSpace(&freeAfter);
    std::printf("max %u error %lu as=%llu free=%llu perthread=%llu\n", n, static_cast<unsigned long>(error),
                static_cast<unsigned long long>(before), static_cast<unsigned long long>(freeBefore),
                static_cast<unsigned long long>(n != 0 ? (after - before) / n : 0));
    std::fflush(stdout);
    SetEvent(g_stop);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--max") == 0) {
        g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return Max(size_t(std::atoi(argv[2])) * 1024);
    }
    const int n = argc > 1 ? std::atoi(argv[1]) : 0;
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::printf("before\n");
    std::fflush(stdout);
    Sleep(500);
    for (int i = 0; i < n; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    }
    Sleep(500);
    std::printf("after %d\n", n);
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    SetEvent(g_stop);
    return 0;
}
