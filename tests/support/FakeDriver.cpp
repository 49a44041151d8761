#include "support/FakeDriver.h"

#include <cstdarg>
#include <cstdio>

namespace halvencap_test {

FakeDriver::FakeDriver() {
    device.address = "127.0.0.1";
    device.port = 80;
}

void* FakeDriver::DeletingDestructor(unsigned) { return this; }

std::string FakeDriver::GetDeviceName() {
    return device.address + ":" + std::to_string(device.port);
}

void FakeDriver::Message(int level, const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (buffer[0] == '\0' || level == zentavo::LOG_SILENT) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({level, buffer});
    }
    m_changed.notify_all();
}

std::string FakeDriver::GetParamString(int key) {
    auto it = params.find(key);
    if (it == params.end() || it->second == "(none)") return std::string();
    return it->second;
}

int32_t FakeDriver::GetParamInt(int key) {
    auto it = params.find(key);
    if (it == params.end()) return INT32_MIN;
    try {
        size_t used = 0;
        const long v = std::stol(it->second, &used);
        return used == it->second.size() ? static_cast<int32_t>(v) : INT32_MIN;
    } catch (...) {
        return INT32_MIN;
    }
}

std::vector<LogLine> FakeDriver::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

size_t FakeDriver::CountContaining(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& l : m_lines)
        if (l.text.find(needle) != std::string::npos) ++n;
    return n;
}

bool FakeDriver::WaitForLine(const std::string& needle, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        for (const auto& l : m_lines)
            if (l.text.find(needle) != std::string::npos) return true;
        return false;
    });
}

void FakeDriver::ClearLines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

}  // namespace halvencap_test
