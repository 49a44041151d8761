// Figures of one video step of `check`, from the arrival of each frame the
// host accepted: how many, how fast, how many a decoder can start on, the
// longest wait between two of them and how large they were. Arrival times
// are the program's own, not the capture times the driver writes: a camera
// whose clock runs well while its stream stalls must still show the stall.
#pragma once

#include <cstdint>
#include <mutex>

namespace zentavo {
namespace cli {

struct VideoFigures {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
    uint64_t smallest = 0;  // bytes of the smallest frame
    uint64_t largest = 0;
    double seconds = 0;         // length of the step
    double firstFrameAt = -1;   // seconds from the step's start; -1: none came
    double longestGapMs = 0;    // between two frames, or from the start to the first
    uint32_t width = 0;         // of the last frame
    uint32_t height = 0;
    uint32_t reconnects = 0;    // the stream came back after it had been lost
    uint64_t lost = 0;          // stream losses the driver reported
    uint64_t refused = 0;       // frames the program could not take

    double FramesPerSecond() const;
    uint64_t MeanSize() const;
};

// Fed from the driver's capture thread, read from the main thread.
class CheckVideoMeter {
public:
    void Frame(double seconds, uint64_t size, bool key, uint32_t width, uint32_t height);
    // Closes the figures at the step's end: a stream that stopped early
    // shows its silence up to here as the longest gap.
    VideoFigures Finish(double seconds) const;
    uint64_t Frames() const;

private:
    mutable std::mutex m_mutex;
    VideoFigures m_figures;
    double m_last = 0;  // arrival of the previous frame, or the start
};

}  // namespace cli
}  // namespace zentavo
