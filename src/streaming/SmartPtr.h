// Shared ownership of one heap object through a heap reference counter.
// The counter is atomic and wide: copies may be made and dropped on
// different threads (socket thread and packet queue thread), and a narrow
// counter would wrap into a double delete.
#pragma once

#include <atomic>
#include <cstdint>

namespace zentavo {

template <typename T>
class TSmartPtr {
public:
    TSmartPtr() = default;
    explicit TSmartPtr(T* object) { Assign(object); }
    TSmartPtr(const TSmartPtr& other) { Share(other); }
    TSmartPtr& operator=(const TSmartPtr& other) {
        if (this != &other && other.m_object != m_object) {
            Release();
            Share(other);
        }
        return *this;
    }
    TSmartPtr& operator=(T* object) {
        Assign(object);
        return *this;
    }
    virtual ~TSmartPtr() { Release(); }

    // Releases the held object (deleting it with the last reference), then
    // takes ownership of object, which may be null.
    void Assign(T* object) {
        if (object && object == m_object) return;
        Release();
        if (object) {
            m_counter = new std::atomic<int32_t>(1);
            m_object = object;
        }
    }
    void Release() {
        if (m_counter && m_counter->fetch_sub(1) == 1) {
            delete m_object;
            delete m_counter;
        }
        m_counter = nullptr;
        m_object = nullptr;
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    int32_t UseCount() const { return m_counter ? m_counter->load() : 0; }

private:
    void Share(const TSmartPtr& other) {
        m_counter = other.m_counter;
        m_object = other.m_object;
        if (m_counter) m_counter->fetch_add(1);
    }

    std::atomic<int32_t>* m_counter = nullptr;
    T* m_object = nullptr;
};

}  // namespace zentavo
