#include "CheckVideoMeter.h"

#include <algorithm>

namespace zentavo {
namespace cli {

double VideoFigures::FramesPerSecond() const {
    const double span = seconds - firstFrameAt;
    return frames != 0 && span > 0 ? double(frames) / span : 0.0;
}

uint64_t VideoFigures::MeanSize() const { return frames != 0 ? bytes / frames : 0; }

void CheckVideoMeter::Frame(double seconds, uint64_t size, bool key, uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> lock(m_mutex);
    VideoFigures& f = m_figures;
    if (f.frames == 0) {
        f.firstFrameAt = seconds;
        f.smallest = size;
    } else {
        f.longestGapMs = std::max(f.longestGapMs, (seconds - m_last) * 1000.0);
    }
    m_last = seconds;
    ++f.frames;
    if (key) ++f.keyFrames;
    f.bytes += size;
    f.smallest = std::min(f.smallest, size);
    f.largest = std::max(f.largest, size);
    f.width = width;
    f.height = height;
}

VideoFigures CheckVideoMeter::Finish(double seconds) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    VideoFigures f = m_figures;
    f.seconds = seconds;
    const double silentSince = f.frames != 0 ? m_last : 0.0;
    f.longestGapMs = std::max(f.longestGapMs, (seconds - silentSince) * 1000.0);
    return f;
}

uint64_t CheckVideoMeter::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_figures.frames;
}

}  // namespace cli
}  // namespace zentavo
