// Figures of one video step of `check`, from the arrival of each frame the
// host accepted: how many, how fast, how many a decoder can start on, the
// longest wait between two of them and how large they were. The start-up
// (configuring the camera, the RTSP session) is counted apart, as the time
// to the first frame, so that a slow start does not pass for a stall. Arrival times
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
    double longestGapMs = 0;    // between two frames, or after the last; all of it without frames
    uint32_t width = 0;         // of the last frame
    uint32_t height = 0;
    uint32_t reconnects = 0;    // the stream came back after it had been lost
    uint64_t lost = 0;          // stream losses the driver reported
    uint64_t refused = 0;       // frames the program could not take

    // Over the time from the first frame to the step's end.
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
    double m_last = 0;  // arrival of the previous frame
};

}  // namespace cli
}  // namespace zentavo
