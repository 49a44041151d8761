#include "channels/LatencyHistogram.h"

#include <cmath>

namespace zentavo {

void CLatencyHistogram::Add(double ms) {
    if (!(ms >= 0)) ms = 0;  // also NaN: a clock that stepped back
    const double index = std::floor(ms * BUCKETS_PER_MS);
    const unsigned bucket = index >= double(BUCKETS - 1) ? BUCKETS - 1 : unsigned(index);
    if (m_buckets[bucket] != UINT32_MAX) ++m_buckets[bucket];
    ++m_count;
    if (ms > m_maxMs) m_maxMs = ms;
}

void CLatencyHistogram::Clear() {
    m_buckets.fill(0);
    m_count = 0;
    m_maxMs = 0;
}

double CLatencyHistogram::Percentile(double q) const {
    if (m_count == 0) return 0;
    if (q > 1) q = 1;
    const double wanted = std::ceil(q * double(m_count));
    uint64_t seen = 0;
    for (unsigned i = 0; i < BUCKETS; ++i) {
        seen += m_buckets[i];
        if (double(seen) >= wanted && seen > 0) return i == BUCKETS - 1 ? m_maxMs : double(i + 1) / BUCKETS_PER_MS;
    }
    return m_maxMs;
}

}  // namespace zentavo
