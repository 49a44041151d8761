#include "DebugSink.h"

#include "Options.h"

namespace zentavo {
namespace cli {

bool IsRefusalLine(const std::string& text) {
    return text.find("status code = 401") != std::string::npos ||
           text.find("status code = 403") != std::string::npos;
}

void DebugSink::OnDebugMessage(ipcapture::CDebugInfoIf* info) {
    if (info == nullptr) return;
    // Called from inside the driver: nothing may be thrown back into it.
    try {
        Show(info->GetLevel(), info->GetText());
    } catch (...) {
    }
}

void DebugSink::Show(int level, const char* raw) {
    const std::string text = OneLine(raw != nullptr ? raw : "");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = text;
        if (level == 1) ++m_errors;
        if (IsRefusalLine(text)) m_refused = true;
    }
    if (ShowLogLine(m_threshold, level)) m_console.Error("[" + LogLevelName(level) + "] " + text);
}

std::string DebugSink::LastLine() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

bool DebugSink::Refused() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refused;
}

uint32_t DebugSink::Errors() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

}  // namespace cli
}  // namespace zentavo
