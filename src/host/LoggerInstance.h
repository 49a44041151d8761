// Repeat-suppressing logging mix-in for components that may report the same
// failure over and over (stream configuration, camera I/O). A text equal to
// the last delivered one is dropped; of the differing texts, a thinning
// schedule lets through the first 14, then every 16th, every 256th and every
// 4096th, so that a flood of changing messages cannot swamp the host's log.
#pragma once

#include <cstdint>
#include <string>

#include "host/IDriver.h"
#include "runtime/RecursiveLock.h"

namespace zentavo {

class CLoggerInstance {
public:
    explicit CLoggerInstance(IDriver* target);
    virtual ~CLoggerInstance();
    CLoggerInstance(const CLoggerInstance&) = delete;
    CLoggerInstance& operator=(const CLoggerInstance&) = delete;

    void Log(int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // Whether the n-th differing text is passed on (n counts from 1).
    static bool IsDelivered(uint32_t n);

protected:
    IDriver* m_target;
    uint32_t m_counter;
    CRecursiveLock m_lock;
    std::string m_lastText;
};

}  // namespace zentavo
