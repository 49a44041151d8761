// The program's frames and frame factory, handed to the driver as its host
// context. Frames are plain heap buffers of the capacity the driver asks
// for; the factory knows which frames it has handed out, so a pointer that
// comes back through the channel callback is checked before it is read.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "host/HostContract.h"
#include "Recorder.h"

namespace zentavo {
namespace cli {

class HostFrame final : public ipcapture::IHostFrame {
public:
    explicit HostFrame(uint32_t capacity, uint32_t code);

    uint8_t* GetDataArea() override { return m_data.get(); }
    void SetDataSize(uint32_t size) override;
    void SetCaptureTime(const SYSTEMTIME* time) override;
    void SetCode(uint32_t code) override { m_info.code = code; }
    void SetHeight(uint32_t height) override { m_info.height = height; }
    void SetWidth(uint32_t width) override { m_info.width = width; }
    void SetResolutionClass(uint32_t resolutionClass) override { m_resolutionClass = resolutionClass; }

    const FrameInfo& Info() const { return m_info; }
    const uint8_t* Data() const { return m_data.get(); }
    uint32_t Size() const { return m_size; }
    uint32_t Capacity() const { return m_capacity; }
    uint32_t ResolutionClass() const { return m_resolutionClass; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    uint32_t m_capacity;
    uint32_t m_size = 0;
    uint32_t m_resolutionClass = 0;
    FrameInfo m_info;
};

class FrameFactory final : public ipcapture::IFrameFactory {
public:
    // Larger requests are refused: no camera picture comes near this, and a
    // corrupt size must not make the program allocate without bound.
    static constexpr uint32_t MAX_CAPACITY = 64u * 1024u * 1024u;

    FrameFactory() = default;
    ~FrameFactory();
    FrameFactory(const FrameFactory&) = delete;
    FrameFactory& operator=(const FrameFactory&) = delete;

    ipcapture::IHostFrame* CreateFrame(uint32_t code, uint32_t capacity, const char* sourceName) override;
    void ReleaseFrame(ipcapture::IHostFrame* frame) override;

    // The frame behind a pointer the driver hands back, or null if it is not
    // one of ours (or was already released).
    HostFrame* Find(ipcapture::IHostFrame* frame) const;
    size_t Outstanding() const;

private:
    mutable std::mutex m_mutex;
    std::set<ipcapture::IHostFrame*> m_live;  // all are HostFrame objects
};

}  // namespace cli
}  // namespace zentavo
