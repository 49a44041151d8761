// What a process holds, for leak checks around start/stop cycles: threads
// (Toolhelp), open handles and private bytes.
#pragma once

#include <cstddef>

#include "runtime/PlatformTypes.h"

namespace halvencap_test {

struct Resources {
    unsigned threads = 0;
    DWORD handles = 0;
    size_t privateBytes = 0;
};

Resources Measure();

}  // namespace halvencap_test
