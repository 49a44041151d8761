// What one more thread costs a process under this Windows (or Wine), with
// no driver loaded: says "before", starts N threads that only wait, says
// "after" and waits for its standard input to end. The scale benchmark
// reads resident memory at the two lines and subtracts the platform's own
// per-thread cost from the driver's memory per channel (under Wine every
// thread holds about 1 MiB resident, whatever its stack size; under
// Windows a few pages).
//   bench_IdleThreads.exe <N>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
HANDLE g_stop;
DWORD WINAPI Idle(void*) {
    WaitForSingleObject(g_stop, INFINITE);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
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
