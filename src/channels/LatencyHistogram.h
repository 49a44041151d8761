// Counts delays in fixed buckets, for percentiles of how long a picture
// waited inside the driver between the arrival of its last packet and its
// hand-off to the host. Fixed memory, constant time per value; a
// percentile is the upper edge of its bucket, so it never understates.
#pragma once

#include <array>
#include <cstdint>

namespace zentavo {

class CLatencyHistogram {
public:
    static constexpr unsigned BUCKETS_PER_MS = 10;
    static constexpr unsigned BUCKETS = 1000;  // 0 to 100 ms; later values share the last bucket

    void Add(double ms);
    void Clear();
    uint64_t Count() const { return m_count; }
    // The smallest bucket edge at or below which at least the fraction q
    // (0 < q <= 1) of the values lie; 0 when empty. Values beyond the range
    // answer the largest value seen.
    double Percentile(double q) const;
    double MaxMs() const { return m_maxMs; }

private:
    std::array<uint32_t, BUCKETS> m_buckets{};
    uint64_t m_count = 0;
    double m_maxMs = 0;
};

}  // namespace zentavo
