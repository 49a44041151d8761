// Builds bit-exact headers for the reader tests (MSB first, Exp-Golomb).
#pragma once

#include <cstdint>
#include <vector>

namespace halvencap_test {

class BitWriter {
public:
    void Bits(uint64_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) Bit((value >> i) & 1);
    }
    void Bit(unsigned b) {
        if (m_used == 0) m_bytes.push_back(0);
        if (b) m_bytes.back() |= uint8_t(0x80 >> m_used);
        m_used = (m_used + 1) % 8;
    }
    void UE(uint32_t v) {
        const uint64_t x = uint64_t(v) + 1;
        unsigned n = 0;
        while ((x >> n) > 1) ++n;
        Bits(0, n);
        Bits(x, n + 1);
    }
    void SE(int32_t v) { UE(v > 0 ? uint32_t(2 * int64_t(v) - 1) : uint32_t(-2 * int64_t(v))); }
    // rbsp_trailing_bits
    void Trailing() {
        Bit(1);
        while (m_used) Bit(0);
    }
    // MPEG-4 next_start_code stuffing: a 0 bit, then 1 bits to the boundary.
    void AlignOnes() {
        Bit(0);
        while (m_used) Bit(1);
    }
    void AlignZero() {
        while (m_used) Bit(0);
    }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    unsigned m_used = 0;
};

// Inserts emulation prevention bytes as an H.264 encoder does.
inline std::vector<uint8_t> Escape(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out;
    unsigned zeros = 0;
    for (uint8_t b : raw) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

}  // namespace halvencap_test
