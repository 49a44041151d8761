// Running mean over the last values of a series, for the capture clock's
// measured frame rate.
#pragma once

#include <cstddef>
#include <deque>

namespace zentavo {

template <typename T>
class TStatisticsHelper {
public:
    explicit TStatisticsHelper(size_t window = 1000) : m_window(window == 0 ? 1 : window) {}
    virtual ~TStatisticsHelper() = default;

    void Add(T value) {
        while (m_values.size() >= m_window) {
            m_sum -= static_cast<double>(m_values.front());
            m_values.pop_front();
        }
        m_sum += static_cast<double>(value);
        m_values.push_back(value);
    }
    double Mean() const { return m_values.empty() ? 0.0 : m_sum / static_cast<double>(m_values.size()); }
    size_t Count() const { return m_values.size(); }

private:
    std::deque<T> m_values;
    double m_sum = 0.0;
    size_t m_window;
};

}  // namespace zentavo
