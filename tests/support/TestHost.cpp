#include "support/TestHost.h"

#include <cstdio>
#include <stdexcept>

namespace halvencap_test {

void TestDebugSink::OnDebugMessage(zentavo::ipcapture::CDebugInfoIf* info) {
    if (info == nullptr) return;
    const char* text = info->GetText();
    SinkLine line{info->GetLevel(), text != nullptr ? text : ""};
    if (echo) std::fprintf(stderr, "[driver %d] %s\n", line.level, line.text.c_str());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    m_changed.notify_all();
}

std::vector<SinkLine> TestDebugSink::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

size_t TestDebugSink::Count(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& l : m_lines)
        if (l.text.find(needle) != std::string::npos) ++n;
    return n;
}

std::optional<SinkLine> TestDebugSink::Find(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& l : m_lines)
        if (l.text.find(needle) != std::string::npos) return l;
    return std::nullopt;
}

bool TestDebugSink::WaitFor(const std::string& needle, std::chrono::milliseconds timeout,
                            size_t count) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const auto& l : m_lines)
            if (l.text.find(needle) != std::string::npos) ++n;
        return n >= count;
    });
}

void TestDebugSink::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

const char* TestDeviceConfig::GetParameter(int32_t index) {
    if (index < 1 || static_cast<size_t>(index) > params.size()) return nullptr;
    const auto& value = params[static_cast<size_t>(index) - 1];
    return value ? value->c_str() : nullptr;
}

bool TestChannelCallback::OnFrame(zentavo::ipcapture::IHostFrame* frame) {
    if (onFrame) onFrame(frame);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_frames;
    }
    m_changed.notify_all();
    if (throwOnFrame) throw std::runtime_error("host refuses with an exception");
    return accept;
}

void TestChannelCallback::OnStreamLost() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_lost;
    }
    m_changed.notify_all();
}

size_t TestChannelCallback::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

size_t TestChannelCallback::StreamLost() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lost;
}

bool TestChannelCallback::WaitFrames(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_frames >= count; });
}

bool TestChannelCallback::WaitStreamLost(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_lost >= count; });
}

void TestIOCallback::OnInputChanged(uint32_t index, uint32_t state) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_changes.push_back({index, state});
    }
    m_changed.notify_all();
}

void TestIOCallback::OnIOFailure() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_failures;
    }
    m_changed.notify_all();
}

std::vector<InputChange> TestIOCallback::Changes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}

size_t TestIOCallback::Failures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failures;
}

bool TestIOCallback::WaitChanges(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_changes.size() >= count; });
}

bool TestIOCallback::WaitFailures(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_failures >= count; });
}

void TestIOCallback::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changes.clear();
    m_failures = 0;
}

}  // namespace halvencap_test
