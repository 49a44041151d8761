// Wall-clock time stamps in the platform's file-time units (100 ns since
// 1601-01-01, UTC).
#pragma once

#include <cstdint>

#include "runtime/PlatformTypes.h"
#include "runtime/RecursiveLock.h"

namespace zentavo {

// Now as a file-time stamp; 0 if the system time cannot be converted.
uint64_t CurrentTimeStamp();
// Milliseconds from stamp to now; 0 when now is not later. Differences
// beyond the 32-bit range read as the largest value rather than wrapping.
uint32_t ElapsedMs(uint64_t stamp);
// Calendar time (UTC) of a stamp; false when it cannot be represented.
bool TimeStampToSystemTime(uint64_t stamp, SYSTEMTIME& out);

class CTime {
public:
    CTime();
    virtual ~CTime();
    CTime(const CTime&) = delete;
    CTime& operator=(const CTime&) = delete;

    void Restart();
    void Set(uint64_t stamp);
    uint64_t Get();
    uint32_t ElapsedMs();

private:
    CRecursiveLock m_lock;
    uint64_t m_stamp;
};

}  // namespace zentavo
