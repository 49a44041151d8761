// MD5 message digest (RFC 1321), used for HTTP and RTSP Digest responses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentavo {

class CMd5 {
public:
    CMd5();
    void Update(const uint8_t* data, size_t length);
    void Update(const std::string& text);
    // Pads, appends the bit length and writes the 16-byte digest. The object
    // must be Reset before it is used again.
    void Final(uint8_t digest[16]);
    void Reset();

private:
    void Transform(const uint8_t block[64]);

    uint32_t m_state[4];
    uint64_t m_bitCount;
    uint8_t m_buffer[64];
    size_t m_buffered;
};

}  // namespace zentavo
