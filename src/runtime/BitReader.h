// Most-significant-bit-first reader over untrusted bytes, with the
// Exp-Golomb codes of the video standards. A bit beyond the end reads as 1 and
// marks the reader as overrun, so a truncated header can never yield a
// result silently. Optionally skips emulation prevention bytes (00 00 03) so
// that an escaped H.264 NAL unit reads as its raw payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentavo {

class CBitReader {
public:
    CBitReader(const uint8_t* data, size_t size, bool skipEmulationPrevention = false)
        : m_data(data), m_size(data ? size : 0), m_unescape(skipEmulationPrevention) {}

    bool Overrun() const { return m_overrun; }
    bool AtEnd() const { return m_byte >= m_size; }
    bool ByteAligned() const { return m_bit == 0; }
    // Absolute byte position of the next bit (for byte-aligned searches).
    size_t BytePosition() const { return m_byte; }
    size_t Size() const { return m_size; }
    const uint8_t* Data() const { return m_data; }

    uint32_t ReadBit() {
        if (m_byte >= m_size) {
            m_overrun = true;
            return 1;
        }
        const uint32_t bit = (m_data[m_byte] >> (7 - m_bit)) & 1u;
        if (++m_bit == 8) AdvanceByte();
        return bit;
    }

    // Up to 32 bits.
    uint32_t ReadBits(unsigned count) {
        uint32_t v = 0;
        for (unsigned i = 0; i < count; ++i) v = (v << 1) | ReadBit();
        return v;
    }

    void SkipBits(uint32_t count) {
        for (uint32_t i = 0; i < count && !m_overrun; ++i) ReadBit();
    }

    // Unsigned Exp-Golomb. More than 31 leading zeros cannot be a valid value
    // in any field read here; it is treated as an overrun.
    uint32_t ReadUE() {
        unsigned zeros = 0;
        while (ReadBit() == 0) {
            if (++zeros > 31) {
                m_overrun = true;
                return 0;
            }
        }
        if (m_overrun) return 0;
        if (zeros == 0) return 0;
        const uint64_t v = (uint64_t(1) << zeros) - 1 + ReadBits(zeros);
        return static_cast<uint32_t>(v);
    }

    int32_t ReadSE() {
        const uint32_t k = ReadUE();
        const int64_t magnitude = (int64_t(k) + 1) / 2;
        return static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
    }

    void AlignToByte() {
        if (m_bit != 0) AdvanceByte();
    }

    // Moves to an absolute byte position (bit 0); positions beyond the end
    // leave the reader at the end.
    void SeekByte(size_t position) {
        m_byte = position < m_size ? position : m_size;
        m_bit = 0;
        m_zeros = 0;
    }

private:
    void AdvanceByte() {
        m_bit = 0;
        if (m_unescape) {
            m_zeros = m_data[m_byte] == 0 ? m_zeros + 1 : 0;
            ++m_byte;
            if (m_zeros >= 2 && m_byte < m_size && m_data[m_byte] == 3) {
                ++m_byte;
                m_zeros = 0;
            }
        } else {
            ++m_byte;
        }
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_byte = 0;
    unsigned m_bit = 0;
    unsigned m_zeros = 0;
    bool m_unescape;
    bool m_overrun = false;
};

}  // namespace zentavo
