// The live status line of `record`: frame and byte rates over the last few
// seconds, the camera state as the driver reports it, and how often the
// stream came back after it had been lost.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace zentavo {
namespace cli {

constexpr int STATE_UNKNOWN = -1;  // no channel, or the driver gave no state

// States of GetChannelState: 0 streaming, anything else not streaming,
// which before the first stream means the driver is still connecting.
const char* CameraStateName(int state, bool everStreamed);

// Rates over a sliding window of samples (elapsed seconds, totals).
class RateMeter {
public:
    explicit RateMeter(double windowSeconds = 3.0) : m_window(windowSeconds) {}
    void Add(double seconds, uint64_t frames, uint64_t bytes);
    double FramesPerSecond() const;
    double KilobitsPerSecond() const;

private:
    struct Sample {
        double seconds;
        uint64_t frames;
        uint64_t bytes;
    };
    double m_window;
    std::deque<Sample> m_samples;
};

// Counts recoveries: the state returning to streaming after it had been
// streaming and then lost.
class StateTracker {
public:
    void Observe(int state);
    int State() const { return m_state; }
    uint32_t Reconnects() const { return m_reconnects; }
    bool EverStreamed() const { return m_everStreamed; }

private:
    int m_state = STATE_UNKNOWN;
    bool m_everStreamed = false;
    bool m_lostSinceStreaming = false;
    uint32_t m_reconnects = 0;
};

struct StatusSnapshot {
    double seconds = 0;
    uint64_t frames = 0;
    double fps = 0;
    double kbps = 0;
    int state = STATE_UNKNOWN;
    bool everStreamed = false;
    uint32_t reconnects = 0;
    uint64_t lost = 0;
    std::string lastLog;
};

// "00:12 | 120 frames | 10.0 fps | 1234 kbit/s | streaming | reconnects 0 | lost 0 | last: ..."
std::string FormatStatus(const StatusSnapshot& s);
// "1.2 MB", "512 B", ...
std::string FormatBytes(uint64_t bytes);

}  // namespace cli
}  // namespace zentavo
