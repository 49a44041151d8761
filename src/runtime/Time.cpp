#include "runtime/Time.h"

#include <limits>

namespace zentavo {

namespace {

const uint64_t kTicksPerMs = 10000;

}  // namespace

uint64_t CurrentTimeStamp() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME file;
    if (!SystemTimeToFileTime(&now, &file)) return 0;
    return (uint64_t(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

uint32_t ElapsedMs(uint64_t stamp) {
    const uint64_t now = CurrentTimeStamp();
    if (now <= stamp) return 0;
    const uint64_t ms = (now - stamp) / kTicksPerMs;
    return ms > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                     : static_cast<uint32_t>(ms);
}

bool TimeStampToSystemTime(uint64_t stamp, SYSTEMTIME& out) {
    FILETIME file;
    file.dwLowDateTime = static_cast<DWORD>(stamp);
    file.dwHighDateTime = static_cast<DWORD>(stamp >> 32);
    return FileTimeToSystemTime(&file, &out) != FALSE;
}

CTime::CTime() : m_stamp(CurrentTimeStamp()) {}

CTime::~CTime() = default;

void CTime::Restart() {
    const uint64_t now = CurrentTimeStamp();
    CLockGuard guard(m_lock);
    m_stamp = now;
}

void CTime::Set(uint64_t stamp) {
    CLockGuard guard(m_lock);
    m_stamp = stamp;
}

uint64_t CTime::Get() {
    CLockGuard guard(m_lock);
    return m_stamp;
}

uint32_t CTime::ElapsedMs() { return zentavo::ElapsedMs(Get()); }

}  // namespace zentavo
