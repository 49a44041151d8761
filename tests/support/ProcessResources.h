// What a process holds, for leak checks around start/stop cycles: threads
// (Toolhelp), open handles, private bytes and address space in use
// (committed and reserved, the budget a 32-bit process runs out of).
#pragma once

#include <cstddef>

#include "runtime/PlatformTypes.h"

namespace halvencap_test {

struct Resources {
    unsigned threads = 0;
    DWORD handles = 0;
    size_t privateBytes = 0;
    size_t addressSpace = 0;
};

Resources Measure();

// Committed and reserved bytes of the process's address space (a walk with
// VirtualQuery).
size_t AddressSpaceInUse();

}  // namespace halvencap_test
