// Writes received frames to disk: one elementary stream file per kind of
// stream that standard players open (Motion JPEG as concatenated pictures,
// H.264 as an Annex B byte stream, MPEG-4 Visual as a plain elementary
// stream) and one index line per frame. Frames arrive on the driver's
// capture thread while the main thread reads the counters, hence the lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/PlatformTypes.h"
#include "parsers/FrameCodes.h"

namespace zentavo {
namespace cli {

// The codes are the driver's own; the program only reads them.
constexpr uint32_t MakeCode(char a, char b, char c, char d) { return MakeFrameCode(a, b, c, d); }
constexpr uint32_t CODE_JPEG = FRAME_CODE_JPEG;
constexpr uint32_t CODE_H264 = FRAME_CODE_H264;
constexpr uint32_t CODE_I264 = FRAME_CODE_I264;
constexpr uint32_t CODE_DIVX = FRAME_CODE_DIVX;
constexpr uint32_t CODE_DIVI = FRAME_CODE_DIVI;

// The four letters of a frame code, unprintable bytes shown as '?'.
std::string CodeText(uint32_t code);
bool IsKeyFrame(uint32_t code);
// File the frames of this code go to: "video.mjpeg", "video.h264", "video.m4v",
// or "video-<code>.bin" for a code this program does not know.
std::string StreamFileName(uint32_t code);
// "2026-12-08T07:24:05.123Z"
std::string FormatCaptureTime(const SYSTEMTIME& t);

struct FrameInfo {
    uint32_t code = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool timeSet = false;
    SYSTEMTIME captureTime{};
};

struct RecorderStats {
    uint64_t frames = 0;       // written
    uint64_t bytes = 0;        // written
    uint64_t keyFrames = 0;
    uint64_t skipped = 0;      // inter frames before a stream's first key frame
    uint64_t writeErrors = 0;
    uint32_t lastWidth = 0;
    uint32_t lastHeight = 0;
};

constexpr const char* INDEX_FILE_NAME = "index.csv";
constexpr const char* INDEX_HEADER = "time,size,code,key,file,offset,width,height";

class Recorder {
public:
    Recorder() = default;
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates the directory if needed and starts a fresh index there.
    bool Open(const std::string& directory, std::string& error);
    enum class WriteResult { Written, Skipped, Failed };
    // Appends one frame. Inter frames before a stream's first key frame are
    // skipped; Failed means the files could not take it.
    WriteResult Write(const FrameInfo& info, const uint8_t* data, size_t size);
    // Makes everything written so far visible to readers of the files.
    void Flush();
    void Close();

    RecorderStats Stats() const;
    // Paths of the stream files written, in the order they were started.
    std::vector<std::string> StreamFiles() const;
    std::string IndexPath() const;

private:
    struct Stream {
        std::FILE* file = nullptr;
        std::string name;
        uint64_t offset = 0;
        bool started = false;  // a key frame has been written
    };

    Stream* StreamFor(uint32_t code);

    mutable std::mutex m_mutex;
    std::string m_directory;
    std::FILE* m_index = nullptr;
    std::map<std::string, Stream> m_streams;
    std::vector<std::string> m_order;
    RecorderStats m_stats;
};

}  // namespace cli
}  // namespace zentavo
