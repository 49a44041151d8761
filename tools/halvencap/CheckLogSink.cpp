#include "CheckLogSink.h"

namespace zentavo {
namespace cli {

namespace {
// A camera failing for minutes could fill memory with its lines; the
// driver already thins out repeats, and a report needs no more than this.
constexpr size_t MAX_LINES = 500;
}  // namespace

void CheckLogSink::OnDebugMessage(ipcapture::CDebugInfoIf* info) {
    if (info == nullptr) return;
    // Called from inside the driver: nothing may be thrown back into it.
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_lines.size() < MAX_LINES) {
                const char* text = info->GetText();
                m_lines.push_back(CheckLogLine{info->GetLevel(), OneLine(text != nullptr ? text : "")});
            }
        }
        m_shown.OnDebugMessage(info);
    } catch (...) {
    }
}

std::vector<CheckLogLine> CheckLogSink::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

}  // namespace cli
}  // namespace zentavo
