// Base of the parsers that turn an HTTP response body (a byte stream cut
// into arbitrary chunks) into host frames. Owns the frame buffer, the
// picture size and the buffer limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parsers/PictureSize.h"

namespace zentavo {

class IDriver;
class IMediaParserClient;

class CHttpMediaParser {
public:
    explicit CHttpMediaParser(IDriver* driver) : m_driver(driver) {}
    virtual ~CHttpMediaParser() = default;
    CHttpMediaParser(const CHttpMediaParser&) = delete;
    CHttpMediaParser& operator=(const CHttpMediaParser&) = delete;

    // One chunk of body bytes as received; never throws.
    virtual void ProcessData(const uint8_t* data, size_t length) = 0;

    void SetClient(IMediaParserClient* client) { m_client = client; }
    const CPictureSize& PictureSize() const { return m_size; }

    // True while the frame buffer is within the limit; logs otherwise.
    bool CheckBufferSize();

protected:
    IDriver* m_driver;
    IMediaParserClient* m_client = nullptr;
    CPictureSize m_size;
    // Emptied with clear() so the capacity is kept from picture to picture.
    std::vector<uint8_t> m_frameBuffer;
};

}  // namespace zentavo
