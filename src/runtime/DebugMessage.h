// The face every component logs through: the device's name for the text and
// one printf-style line with its level. It follows the host's vtable
// convention (slot 0 = deleting destructor taking flags) because the driver
// object that implements it is also the object the host holds; it lives at
// the ground floor so that threads and sockets can log without knowing the
// driver.
#pragma once

#include <string>

#include "runtime/LogLevels.h"

namespace zentavo {

class IDebugMessage {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                  // 0
    virtual std::string GetDeviceName() = 0;                                // 1
    virtual void Message(int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        = 0;                                                                // 2
};

}  // namespace zentavo
