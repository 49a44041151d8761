// Writes received frames to disk: one elementary stream file per kind of
// stream that standard players open (Motion JPEG as concatenated pictures,
// H.264 as an Annex B byte stream, MPEG-4 Visual as a plain elementary
// stream) and one index line per frame. Frames arrive on the driver's
// capture thread while the main thread reads the counters, hence the lock.
//
// The driver ends every H.264 access unit with the access unit delimiter of
// the next one, so the stream's very last delimiter would stand alone at the
// end of the file, a unit without a picture that decoders complain about. The
// recorder keeps such a trailing delimiter back until the stream's next frame
// comes and drops it when the file is closed; the index line of that last
// frame then gives the size actually in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/PlatformTypes.h"
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
// "1765262645.123" (seconds since 1970), "" for 0
std::string FormatArrivalTime(uint64_t ms);
// Milliseconds since 1970 on this machine's clock.
uint64_t ArrivalNowMs();
// Length of an H.264 access unit delimiter NAL unit (three-byte start code,
// NAL header 9, one payload byte) that ends the data after something else,
// or 0.
size_t TrailingAccessUnitDelimiter(const uint8_t* data, size_t size);

struct FrameInfo {
    uint32_t code = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool timeSet = false;
    SYSTEMTIME captureTime{};
    // When the program got the frame, in milliseconds since 1970 (0: not
    // known). The capture time is the driver's own clock; gaps in delivery
    // show only here.
    uint64_t arrivalMs = 0;
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
constexpr const char* INDEX_HEADER = "time,size,code,key,file,offset,width,height,arrival";

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
    // Makes everything written so far visible to readers of the files
    // (except a trailing delimiter held back, see above).
    void Flush();
    // Drops the delimiters held back, corrects the index lines of their
    // frames and closes the files.
    void Close();

    RecorderStats Stats() const;
    // Paths of the stream files written, in the order they were started.
    std::vector<std::string> StreamFiles() const;
    std::string IndexPath() const;

private:
    // One line of the index, kept so that Close can rewrite it.
    struct IndexLine {
        long position = -1;  // where it starts in the index file; -1: none
        std::string time;
        uint64_t size = 0;
        uint32_t code = 0;
        uint64_t offset = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        uint64_t arrivalMs = 0;
    };

    struct Stream {
        std::FILE* file = nullptr;
        std::string name;
        uint64_t offset = 0;   // counts the held-back bytes too
        bool started = false;  // a key frame has been written
        std::vector<uint8_t> heldBack;  // a trailing delimiter not yet in the file
        IndexLine lastLine;             // the stream's newest index line
    };

    Stream* StreamFor(uint32_t code);
    std::string IndexLineText(const IndexLine& line, const std::string& file) const;
    // Gives the index lines of frames whose delimiter was dropped the size
    // left in the file. Called with the lock held, before the index closes.
    void CorrectIndexAfterDroppedDelimiters();

    mutable std::mutex m_mutex;
    std::string m_directory;
    std::string m_indexPath;
    std::FILE* m_index = nullptr;
    long m_indexLength = -1;  // the index's length once rewritten shorter; -1: as written
    std::map<std::string, Stream> m_streams;
    std::vector<std::string> m_order;
    RecorderStats m_stats;
};

}  // namespace cli
}  // namespace zentavo
