// Command line of the halvencap program: what to do and with which device.
// Parsing is strict and never throws; every refusal comes back as one line
// of text that names the offending option.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zentavo {
namespace cli {

enum class Command { Help, Record, Io, Probe, Check, Version };

// Values as the driver's connection settings carry them.
enum class VideoFormat : int32_t { Mjpeg = 1, Mpeg4 = 2, H264 = 3 };

struct OutputSwitch {
    uint32_t index = 0;  // host output index, into IoLines::outputs
    bool on = false;
};

// Camera I/O lines behind the host's input and output indexes, in the
// driver's "input=0,1;output=2,3" notation.
struct IoLines {
    std::vector<uint32_t> inputs;
    std::vector<uint32_t> outputs;
};

// Log thresholds, from quiet to chatty; see ShowLogLine.
enum LogThreshold : int {
    LOG_SHOW_NONE = 0,
    LOG_SHOW_ERROR = 1,
    LOG_SHOW_WARNING = 2,
    LOG_SHOW_NOTICE = 3,
    LOG_SHOW_INFO = 4,
    LOG_SHOW_ALL = 5,
};

constexpr const char* DEFAULT_IO_LINES = "input=0,1;output=2,3";
constexpr uint32_t MAX_IO_LINE = 31;
constexpr uint32_t CHECK_DEFAULT_SECONDS = 10;  // the camera reports inputs as one 32-bit mask

struct Options {
    Command command = Command::Help;
    std::string address;
    uint16_t port = 80;
    std::string user;
    std::string password;
    VideoFormat format = VideoFormat::Mjpeg;
    uint16_t width = 640;
    uint16_t height = 480;
    uint16_t intervalMs = 100;
    uint16_t quality = 75;
    uint32_t seconds = 0;  // 0: until Ctrl+C (check: CHECK_DEFAULT_SECONDS per format)
    std::string outDir;    // check: empty is the current directory
    std::vector<OutputSwitch> switches;
    uint32_t watchSeconds = 0;
    std::string ioLinesText = DEFAULT_IO_LINES;
    IoLines ioLines;
    int logThreshold = LOG_SHOW_INFO;
    std::string dllPath;  // empty: Halvencap.dll next to the program
    bool quiet = false;   // no live status line
    bool json = false;    // probe: JSON instead of the table
};

struct ParseOutcome {
    bool ok = false;
    std::string error;  // one line, without the program name
    Options options;
};

// args: the command line without the program name.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args);

// "input=0,1;output=2": keys at most once each, lines 0..31, a line in one
// list only. An empty text means no lines at all.
bool ParseIoLines(const std::string& text, IoLines& lines, std::string& error);

std::string UsageText();
const char* FormatName(VideoFormat format);

// Driver log levels: 1 error, 2 warning, 3 information, 100 notice.
bool ShowLogLine(int threshold, int level);
std::string LogLevelName(int level);

}  // namespace cli
}  // namespace zentavo
