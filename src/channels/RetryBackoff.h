// How long a capture thread waits before it tries again to build a stream
// that could not be built: the first retry after a second, each further one
// after twice as long, up to a limit (the stream time-out). A process that
// has run out of threads or sockets then sees a few attempts a minute from
// each channel instead of one a second, and its log a few lines.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zentavo {

class CRetryBackoff {
public:
    static constexpr uint32_t kFirstDelayMs = 1000;

    // The wait before the next attempt after one more failure.
    uint32_t NextDelayMs(uint32_t limitMs) {
        const uint32_t limit = std::max(limitMs, kFirstDelayMs);
        const uint32_t delay = std::min(m_nextMs, limit);
        m_nextMs = delay >= limit / 2 ? limit : delay * 2;
        ++m_failures;
        return delay;
    }
    // After a start that worked: the next failure waits the first delay again.
    void Reset() {
        m_nextMs = kFirstDelayMs;
        m_failures = 0;
    }
    // Failures in a row since the last Reset.
    uint32_t Failures() const { return m_failures; }

private:
    uint32_t m_nextMs = kFirstDelayMs;
    uint32_t m_failures = 0;
};

}  // namespace zentavo
