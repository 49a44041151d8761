// A first-in first-out queue of owned items with two bounds, item count and
// bytes. Beyond either bound the oldest items are dropped and counted: a
// consumer that stalls costs the oldest data, never unbounded memory, and
// what it gets afterwards is the most recent data. Not synchronised; the
// owner holds its own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

namespace zentavo {

template <typename T>
class TBoundedQueue {
public:
    TBoundedQueue(size_t maxItems, size_t maxBytes) { SetLimits(maxItems, maxBytes); }

    // A bound of 0 stands for 1: the newest item is always kept.
    void SetLimits(size_t maxItems, size_t maxBytes) {
        m_maxItems = maxItems ? maxItems : 1;
        m_maxBytes = maxBytes ? maxBytes : 1;
        Trim();
    }

    // Appends the item, then drops the oldest until both bounds hold again
    // (the item just pushed stays, even when it alone exceeds the byte
    // bound). Returns the number dropped by this call.
    size_t Push(std::unique_ptr<T> item, size_t bytes) {
        m_items.emplace_back(std::move(item), bytes);
        m_bytes += bytes;
        return Trim();
    }

    // The oldest item, or null when empty.
    std::unique_ptr<T> Pop() {
        if (m_items.empty()) return nullptr;
        std::unique_ptr<T> item = std::move(m_items.front().first);
        m_bytes -= m_items.front().second;
        m_items.pop_front();
        return item;
    }

    void Clear() {
        m_items.clear();
        m_bytes = 0;
    }

    bool Empty() const { return m_items.empty(); }
    size_t Count() const { return m_items.size(); }
    size_t Bytes() const { return m_bytes; }
    uint64_t Dropped() const { return m_dropped; }
    size_t MaxItems() const { return m_maxItems; }
    size_t MaxBytes() const { return m_maxBytes; }

private:
    size_t Trim() {
        size_t dropped = 0;
        while (m_items.size() > 1 && (m_items.size() > m_maxItems || m_bytes > m_maxBytes)) {
            m_bytes -= m_items.front().second;
            m_items.pop_front();
            ++dropped;
        }
        m_dropped += dropped;
        return dropped;
    }

    std::deque<std::pair<std::unique_ptr<T>, size_t>> m_items;
    size_t m_bytes = 0;
    size_t m_maxItems = 1;
    size_t m_maxBytes = 1;
    uint64_t m_dropped = 0;
};

}  // namespace zentavo
