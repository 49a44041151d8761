// Bounds-checked cursor over untrusted bytes. Every read either succeeds
// completely or leaves the reader failed; a failed reader reads as empty, so
// callers can read a whole record and check Ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zentavo {

class CByteReader {
public:
    CByteReader() = default;
    CByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    bool Ok() const { return !m_failed; }
    size_t Size() const { return m_size; }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_failed ? 0 : m_size - m_pos; }
    const uint8_t* Data() const { return m_data; }
    // Pointer to the current position; valid for Remaining() bytes.
    const uint8_t* Current() const { return m_data + m_pos; }

    bool Has(size_t count) const { return !m_failed && count <= m_size - m_pos; }

    uint8_t ReadU8() {
        if (!Has(1)) return Fail<uint8_t>();
        return m_data[m_pos++];
    }
    uint16_t ReadU16BE() {
        if (!Has(2)) return Fail<uint16_t>();
        const uint16_t v = static_cast<uint16_t>((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    uint32_t ReadU32BE() {
        if (!Has(4)) return Fail<uint32_t>();
        const uint32_t v = (uint32_t(m_data[m_pos]) << 24) | (uint32_t(m_data[m_pos + 1]) << 16) |
                           (uint32_t(m_data[m_pos + 2]) << 8) | uint32_t(m_data[m_pos + 3]);
        m_pos += 4;
        return v;
    }
    // Copies count bytes; on shortage nothing is copied and the reader fails.
    bool ReadBytes(uint8_t* out, size_t count) {
        if (!Has(count)) return Fail<bool>();
        if (count) std::memcpy(out, m_data + m_pos, count);
        m_pos += count;
        return true;
    }
    bool Skip(size_t count) {
        if (!Has(count)) return Fail<bool>();
        m_pos += count;
        return true;
    }
    // Byte at offset from the current position, 0 when out of range (no failure).
    uint8_t PeekAt(size_t offset) const {
        return (!m_failed && offset < m_size - m_pos) ? m_data[m_pos + offset] : 0;
    }
    bool Seek(size_t position) {
        if (m_failed || position > m_size) return Fail<bool>();
        m_pos = position;
        return true;
    }

    // Position (absolute) of the first occurrence of pattern at or after
    // from, or npos.
    static constexpr size_t npos = static_cast<size_t>(-1);
    size_t Find(const uint8_t* pattern, size_t length, size_t from) const {
        if (length == 0 || from > m_size || m_size - from < length) return npos;
        const size_t last = m_size - length;
        for (size_t i = from; i <= last;) {
            const void* hit = std::memchr(m_data + i, pattern[0], last - i + 1);
            if (!hit) return npos;
            i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - m_data);
            if (std::memcmp(m_data + i, pattern, length) == 0) return i;
            ++i;
        }
        return npos;
    }

private:
    template <typename T>
    T Fail() {
        m_failed = true;
        m_pos = m_size;
        return T();
    }

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace zentavo
