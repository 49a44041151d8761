#include "HostFrame.h"

#include <new>

namespace zentavo {
namespace cli {

HostFrame::HostFrame(uint32_t capacity, uint32_t code)
    : m_data(new (std::nothrow) uint8_t[capacity == 0 ? 1 : capacity]), m_capacity(m_data ? capacity : 0) {
    m_info.code = code;
}

void HostFrame::SetDataSize(uint32_t size) {
    // Never trust a size beyond the buffer the driver asked for.
    m_size = size <= m_capacity ? size : m_capacity;
}

void HostFrame::SetCaptureTime(const SYSTEMTIME* time) {
    if (time == nullptr) return;
    m_info.captureTime = *time;
    m_info.timeSet = true;
}

FrameFactory::~FrameFactory() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (ipcapture::IHostFrame* frame : m_live) delete static_cast<HostFrame*>(frame);
    m_live.clear();
}

ipcapture::IHostFrame* FrameFactory::CreateFrame(uint32_t code, uint32_t capacity, const char* sourceName) {
    (void)sourceName;
    if (capacity == 0 || capacity > MAX_CAPACITY) return nullptr;
    HostFrame* frame = new (std::nothrow) HostFrame(capacity, code);
    if (frame == nullptr) return nullptr;
    if (frame->GetDataArea() == nullptr || frame->Capacity() != capacity) {
        delete frame;
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_live.insert(frame);
    } catch (...) {
        // Not tracked means not ours to hand out; the driver drops the picture.
        delete frame;
        return nullptr;
    }
    return frame;
}

void FrameFactory::ReleaseFrame(ipcapture::IHostFrame* frame) {
    HostFrame* ours = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_live.find(frame);
        if (it == m_live.end()) return;
        ours = static_cast<HostFrame*>(*it);
        m_live.erase(it);
    }
    delete ours;
}

HostFrame* FrameFactory::Find(ipcapture::IHostFrame* frame) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_live.find(frame);
    return it == m_live.end() ? nullptr : static_cast<HostFrame*>(*it);
}

size_t FrameFactory::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.size();
}

}  // namespace cli
}  // namespace zentavo
