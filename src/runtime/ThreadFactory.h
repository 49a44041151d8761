// Every thread the driver makes comes from here: with a small stack
// reservation, because a 32-bit host holds dozens of cameras and each
// reserved megabyte of stack is address space the host cannot use (Windows
// keeps to it; Wine rounds it up to 1 MiB, still half of what a thread of a
// mingw-built host reserves by default); and
// with a count of the driver's live threads, so that a test can make the
// process run out of threads at a chosen point (HALVENCAP_TEST_THREAD_LIMIT,
// unset in production).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/PlatformTypes.h"

namespace zentavo {

class IDebugMessage;

class CThreadFactory {
public:
    // Enough for the deepest call chain of the driver's threads (no large
    // buffers live on their stacks) with ample margin.
    static constexpr size_t kStackReservation = 256 * 1024;

    // CreateThread with the driver's reservation. Null with GetLastError
    // set when no thread could be had.
    static HANDLE Create(LPTHREAD_START_ROUTINE entry, void* parameter, bool suspended, DWORD* id);
    // Threads made here that have not ended yet (one that was terminated
    // stays counted: only the test limit reads this).
    static long LiveThreads();
    // The one line for a resource a start could not have, naming the
    // thread, log's device and the system's reason; nothing when log is
    // null. Never throws: out of memory for the line, the caller still fails.
    static void LogStartFailure(IDebugMessage* log, const char* operation, const char* resource,
                                const char* threadName, DWORD error);
};

}  // namespace zentavo
