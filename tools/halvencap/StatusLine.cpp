#include "StatusLine.h"

#include <cstdio>

namespace zentavo {
namespace cli {

const char* CameraStateName(int state, bool everStreamed) {
    if (state == 0) return "streaming";
    if (state == STATE_UNKNOWN) return "starting";
    return everStreamed ? "no signal" : "connecting";
}

void RateMeter::Add(double seconds, uint64_t frames, uint64_t bytes) {
    m_samples.push_back({seconds, frames, bytes});
    // Keep one sample at or before the window's start as the reference.
    while (m_samples.size() > 2 && m_samples[1].seconds <= seconds - m_window) m_samples.pop_front();
}

double RateMeter::FramesPerSecond() const {
    if (m_samples.size() < 2) return 0;
    const double span = m_samples.back().seconds - m_samples.front().seconds;
    if (span <= 0) return 0;
    return double(m_samples.back().frames - m_samples.front().frames) / span;
}

double RateMeter::KilobitsPerSecond() const {
    if (m_samples.size() < 2) return 0;
    const double span = m_samples.back().seconds - m_samples.front().seconds;
    if (span <= 0) return 0;
    return double(m_samples.back().bytes - m_samples.front().bytes) * 8.0 / 1000.0 / span;
}

void StateTracker::Observe(int state) {
    if (state == 0) {
        if (m_everStreamed && m_lostSinceStreaming) ++m_reconnects;
        m_everStreamed = true;
        m_lostSinceStreaming = false;
    } else if (state != STATE_UNKNOWN && m_everStreamed) {
        m_lostSinceStreaming = true;
    }
    m_state = state;
}

std::string FormatStatus(const StatusSnapshot& s) {
    const unsigned total = s.seconds > 0 ? static_cast<unsigned>(s.seconds) : 0;
    char text[200];
    std::snprintf(text, sizeof text, "%02u:%02u | %llu frames | %.1f fps | %.0f kbit/s | %s | reconnects %u | lost %llu",
                  total / 60, total % 60, static_cast<unsigned long long>(s.frames), s.fps, s.kbps,
                  CameraStateName(s.state, s.everStreamed), s.reconnects, static_cast<unsigned long long>(s.lost));
    std::string line = text;
    if (!s.lastLog.empty()) line += " | last: " + s.lastLog;
    return line;
}

std::string FormatBytes(uint64_t bytes) {
    char text[40];
    if (bytes < 1024) std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024) std::snprintf(text, sizeof text, "%.1f KiB", double(bytes) / 1024.0);
    else std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace cli
}  // namespace zentavo
