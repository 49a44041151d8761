// A minimal host for the parser fuzz targets: driver services, a frame
// factory whose frames are exactly as large as the capacity asked for (so
// AddressSanitizer sees any write beyond it) and a client that checks what
// it is offered. Violations abort, which libFuzzer reports as a crash.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channels/IMediaParserClient.h"
#include "host/HostContract.h"
#include "host/IDriver.h"

namespace halvencap_fuzz {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
        std::abort();
    }
}

class FuzzFrame final : public zentavo::ipcapture::IHostFrame {
public:
    explicit FuzzFrame(uint32_t capacity) : m_capacity(capacity), m_data(new uint8_t[capacity ? capacity : 1]) {}
    ~FuzzFrame() { delete[] m_data; }
    FuzzFrame(const FuzzFrame&) = delete;
    FuzzFrame& operator=(const FuzzFrame&) = delete;

    uint8_t* GetDataArea() override { return m_data; }
    void SetDataSize(uint32_t size) override {
        Require(size <= m_capacity, "data size above capacity");
        m_size = size;
    }
    void SetCaptureTime(const SYSTEMTIME* time) override { Require(time != nullptr, "capture time"); }
    void SetCode(uint32_t) override {}
    void SetHeight(uint32_t) override {}
    void SetWidth(uint32_t) override {}
    void SetResolutionClass(uint32_t c) override { Require(c >= 1 && c <= 4, "resolution class"); }

    uint32_t m_capacity;
    uint32_t m_size = 0;
    uint8_t* m_data;
};

class FuzzFactory final : public zentavo::ipcapture::IFrameFactory {
public:
    zentavo::ipcapture::IHostFrame* CreateFrame(uint32_t, uint32_t capacity, const char*) override {
        Require(capacity <= 16u << 20, "capacity beyond the buffer limit");
        ++outstanding;
        return new FuzzFrame(capacity);
    }
    void ReleaseFrame(zentavo::ipcapture::IHostFrame* frame) override {
        Require(outstanding > 0, "release without create");
        --outstanding;
        delete static_cast<FuzzFrame*>(frame);
    }
    int outstanding = 0;
};

class FuzzDriver final : public zentavo::IDriver {
public:
    void* DeletingDestructor(unsigned) override { return this; }
    std::string GetDeviceName() override { return "127.0.0.1:80"; }
    void Message(int, const char* format, ...) override {
        char buffer[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
    }
    std::string GetDriverName() override { return "Halvencap"; }
    std::string GetHostDirectory() override { return "C:\\"; }
    zentavo::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<uint32_t, uint32_t> GetIOCounts() override { return {0, 0}; }
    void* GetHostContext() override { return &factory; }
    int32_t GetModeParameter() override { return 0; }
    int32_t GetVideoFormat() override { return 3; }
    uint32_t GetChannelCount() override { return 1; }
    std::string GetParamString(int) override { return std::string(); }
    int32_t GetParamInt(int) override { return 0; }

    zentavo::DEVICE_INFO device;
    FuzzFactory factory;
};

class FuzzClient final : public zentavo::IMediaParserClient {
public:
    bool OnFrameReady(zentavo::ipcapture::IHostFrame* frame) override {
        auto* f = static_cast<FuzzFrame*>(frame);
        Require(f->m_size > 0 && f->m_size <= f->m_capacity, "offered frame size");
        // Touch every delivered byte so uninitialised or stale data shows up.
        unsigned sum = 0;
        for (uint32_t i = 0; i < f->m_size; ++i) sum += f->m_data[i];
        checksum += sum;
        ++frames;
        return (frames % 7) != 3;  // refuse now and then
    }
    std::pair<uint32_t, uint32_t> GetRequestedSize() override { return {640, 480}; }
    void GetSourceName(std::string& name) override { name = "Halvencap"; }
    void GetCaptureTime(uint32_t, SYSTEMTIME& time) override { time = SYSTEMTIME{}; }
    unsigned frames = 0;
    unsigned checksum = 0;
};

// Cuts fuzz input into records: [flags][length high][length low][bytes].
class RecordReader {
public:
    RecordReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Next(uint8_t& flags, const uint8_t*& bytes, size_t& length) {
        if (m_pos + 3 > m_size) return false;
        flags = m_data[m_pos];
        length = (size_t(m_data[m_pos + 1]) << 8) | m_data[m_pos + 2];
        m_pos += 3;
        if (length > m_size - m_pos) length = m_size - m_pos;
        bytes = m_data + m_pos;
        m_pos += length;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace halvencap_fuzz
