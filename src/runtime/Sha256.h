// SHA-256 message digest (FIPS 180-4), for RTSP Digest answers to servers
// that offer algorithm=SHA-256 (RFC 7616).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentavo {

class CSha256 {
public:
    CSha256();
    void Update(const uint8_t* data, size_t length);
    void Update(const std::string& text);
    // Pads, appends the bit length and writes the 32-byte digest. The object
    // must be Reset before it is used again.
    void Final(uint8_t digest[32]);
    void Reset();

private:
    void Transform(const uint8_t block[64]);

    uint32_t m_state[8];
    uint64_t m_bitCount;
    uint8_t m_buffer[64];
    size_t m_buffered;
};

// The digest of the bytes of s as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::string& s);

}  // namespace zentavo
