#include "CheckReport.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "Console.h"
#include "ExitCodes.h"
#include "Options.h"
#include "ProbeReport.h"
#include "StatusLine.h"

namespace zentavo {
namespace cli {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Num(uint64_t value) { return std::to_string(value); }

// Device answers and driver lines may hold anything; a table cell must stay
// one cell on one line.
std::string Cell(const std::string& text) {
    std::string out;
    for (char c : OneLine(text)) {
        if (c == '|') out += "\\|";
        else out += c;
    }
    return out;
}

// A code block must not be ended early by a line of the driver's.
std::string Fence(const std::vector<CheckLogLine>& lines) {
    std::string fence = "```";
    for (const CheckLogLine& line : lines)
        while (line.text.find(fence) != std::string::npos) fence += '`';
    return fence;
}

std::string VideoSummary(const VideoFigures& v) {
    if (v.frames == 0) return "no frames in " + Fixed(v.seconds, 1) + " s";
    std::string s = Num(v.frames) + " frames, " + Fixed(v.FramesPerSecond(), 1) + "/s, " + Num(v.keyFrames) +
                    " key, longest gap " + Fixed(v.longestGapMs, 0) + " ms";
    if (v.width != 0) s += ", " + std::to_string(v.width) + "x" + std::to_string(v.height);
    return s;
}

std::string IoSummary(const IoFigures& io) {
    std::string s = std::to_string(io.inputsRead) + " of " + std::to_string(io.inputs) + " inputs read";
    if (io.outputs != 0) s += io.switched ? ", output 0 switched on and off" : ", no output switched";
    s += ", " + std::to_string(io.failures) + " I/O failures";
    return s;
}

std::string Figures(const CheckStep& step) {
    if (step.hasVideo) return VideoSummary(step.video);
    if (step.hasIo) return IoSummary(step.io);
    return "";
}

const CheckStep* FirstFailure(const CheckReport& report) {
    for (const CheckStep& step : report.steps)
        if (step.result == StepResult::Failed) return &step;
    return nullptr;
}

void AppendVideoDetails(std::string& md, const VideoFigures& v) {
    md += "| frames | " + Num(v.frames) + " in " + Fixed(v.seconds, 1) + " s |\n";
    md += "| frame rate | " + Fixed(v.FramesPerSecond(), 2) + " per second from the first frame on |\n";
    md += "| key frames | " + Num(v.keyFrames) + " |\n";
    md += "| first frame | " + (v.firstFrameAt < 0 ? std::string("none") : "after " + Fixed(v.firstFrameAt, 2) + " s") +
          " |\n";
    md += "| longest gap | " + Fixed(v.longestGapMs, 0) + " ms |\n";
    md += "| picture | " + (v.width != 0 ? std::to_string(v.width) + "x" + std::to_string(v.height) : "-") + " |\n";
    md += "| frame sizes | smallest " + FormatBytes(v.smallest) + ", mean " + FormatBytes(v.MeanSize()) +
          ", largest " + FormatBytes(v.largest) + " |\n";
    md += "| data | " + FormatBytes(v.bytes) + " |\n";
    md += "| stream | " + std::to_string(v.reconnects) + " reconnects, " + Num(v.lost) + " losses reported, " +
          Num(v.refused) + " frames refused by the program |\n";
}

void AppendIoDetails(std::string& md, const IoFigures& io) {
    md += "| inputs | " + std::to_string(io.inputsRead) + " of " + std::to_string(io.inputs) + " read" +
          (io.states.empty() ? "" : ": " + Cell(io.states)) + " |\n";
    md += "| outputs | " + std::to_string(io.outputs) +
          (io.outputs == 0 ? "" : io.switched ? ", output 0 switched on, then off" : ", not switched") + " |\n";
    md += "| I/O failures | " + std::to_string(io.failures) + " |\n";
}

std::string VideoJson(const VideoFigures& v) {
    return "{\"frames\": " + Num(v.frames) + ", \"seconds\": " + Fixed(v.seconds, 3) +
           ", \"framesPerSecond\": " + Fixed(v.FramesPerSecond(), 3) + ", \"keyFrames\": " + Num(v.keyFrames) +
           ", \"firstFrameSeconds\": " + (v.firstFrameAt < 0 ? std::string("null") : Fixed(v.firstFrameAt, 3)) +
           ", \"longestGapMs\": " + Fixed(v.longestGapMs, 1) + ", \"width\": " + std::to_string(v.width) +
           ", \"height\": " + std::to_string(v.height) + ", \"bytes\": " + Num(v.bytes) +
           ", \"smallestBytes\": " + Num(v.smallest) + ", \"meanBytes\": " + Num(v.MeanSize()) +
           ", \"largestBytes\": " + Num(v.largest) + ", \"reconnects\": " + std::to_string(v.reconnects) +
           ", \"lost\": " + Num(v.lost) + ", \"refused\": " + Num(v.refused) + "}";
}

std::string IoJson(const IoFigures& io) {
    return "{\"inputs\": " + std::to_string(io.inputs) + ", \"inputsRead\": " + std::to_string(io.inputsRead) +
           ", \"inputStates\": " + JsonString(io.states) + ", \"outputs\": " + std::to_string(io.outputs) +
           ", \"switched\": " + (io.switched ? "true" : "false") + ", \"failures\": " + std::to_string(io.failures) +
           "}";
}

bool WriteFile(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) error = "cannot write " + path;
    return written && closed;
}

}  // namespace

const char* StepResultName(StepResult result) {
    switch (result) {
        case StepResult::Passed: return "passed";
        case StepResult::Failed: return "failed";
        case StepResult::Skipped: return "skipped";
    }
    return "?";
}

int CheckExitCode(const CheckReport& report) {
    static const int GRAVITY[] = {EXIT_DEVICE_UNREACHABLE, EXIT_NO_VIDEO, EXIT_FAILURE_OTHER};
    bool failed = false;
    for (const CheckStep& step : report.steps) failed = failed || step.result == StepResult::Failed;
    if (!failed) return EXIT_OK;
    for (int code : GRAVITY)
        for (const CheckStep& step : report.steps)
            if (step.result == StepResult::Failed && step.failCode == code) return code;
    return EXIT_FAILURE_OTHER;
}

std::string CheckVerdict(const CheckReport& report) {
    const CheckStep* failed = FirstFailure(report);
    if (failed == nullptr) return "fit for recording";
    return "not fit for recording: " + failed->title + " failed" +
           (failed->detail.empty() ? "" : " (" + OneLine(failed->detail) + ")");
}

std::string RenderCheckMarkdown(const CheckReport& r) {
    std::string md = "# Camera check of " + Cell(r.device) + "\n\n";
    md += "**" + OneLine(CheckVerdict(r)) + "** (exit code " + std::to_string(CheckExitCode(r)) + ")\n\n";
    md += "| | |\n|---|---|\n";
    md += "| device | " + Cell(r.device) + " |\n";
    md += "| user | " + (r.user.empty() ? std::string("(none)") : Cell(r.user)) + " |\n";
    md += "| checked | " + Cell(r.started) + " |\n";
    md += "| driver | " + Cell(r.driver) + " |\n";
    if (!r.camera.empty()) md += "| camera | " + Cell(r.camera) + " |\n";
    if (!r.firmware.empty()) md += "| firmware | " + Cell(r.firmware) + " |\n";
    if (!r.codecs.empty()) {
        std::string codecs;
        for (const std::string& c : r.codecs) codecs += (codecs.empty() ? "" : ", ") + c;
        md += "| codecs | " + Cell(codecs) + " |\n";
    }
    md += "\n## Steps\n\n| step | result | figures | detail |\n|---|---|---|---|\n";
    for (const CheckStep& s : r.steps)
        md += "| " + Cell(s.title) + " | " + StepResultName(s.result) + " | " + Cell(Figures(s)) + " | " +
              Cell(s.detail) + " |\n";
    for (const CheckStep& s : r.steps) {
        // A step the table says all about gets no section of its own.
        if (s.result != StepResult::Failed && s.log.empty() && !s.hasVideo && !s.hasIo) continue;
        md += "\n## " + OneLine(s.title) + ": " + StepResultName(s.result) + "\n\n";
        if (!s.detail.empty()) md += OneLine(s.detail) + "\n\n";
        md += "Took " + Fixed(s.seconds, 1) + " s.\n\n";
        if (s.hasVideo || s.hasIo) {
            md += "| figure | value |\n|---|---|\n";
            if (s.hasVideo) AppendVideoDetails(md, s.video);
            if (s.hasIo) AppendIoDetails(md, s.io);
            md += "\n";
        }
        if (s.log.empty()) {
            md += "The driver wrote no log line in this step.\n";
            continue;
        }
        const std::string fence = Fence(s.log);
        md += "Driver log of this step:\n\n" + fence + "\n";
        for (const CheckLogLine& line : s.log) md += "[" + LogLevelName(line.level) + "] " + OneLine(line.text) + "\n";
        md += fence + "\n";
    }
    return md;
}

std::string RenderCheckJson(const CheckReport& r) {
    const int code = CheckExitCode(r);
    std::string j = "{\"device\": " + JsonString(r.device) + ", \"user\": " + JsonString(r.user) +
                    ", \"checked\": " + JsonString(r.started) + ", \"driver\": " + JsonString(r.driver) +
                    ", \"camera\": " + JsonString(r.camera) + ", \"firmware\": " + JsonString(r.firmware) +
                    ", \"codecs\": [";
    for (size_t i = 0; i < r.codecs.size(); ++i) j += (i ? ", " : "") + JsonString(r.codecs[i]);
    j += "], \"fit\": " + std::string(code == EXIT_OK ? "true" : "false") + ", \"exitCode\": " + std::to_string(code) +
         ", \"verdict\": " + JsonString(CheckVerdict(r)) + ", \"steps\": [";
    for (size_t i = 0; i < r.steps.size(); ++i) {
        const CheckStep& s = r.steps[i];
        j += std::string(i ? ", " : "") + "{\"id\": " + JsonString(s.id) + ", \"title\": " + JsonString(s.title) +
             ", \"result\": " + JsonString(StepResultName(s.result)) + ", \"detail\": " + JsonString(s.detail) +
             ", \"seconds\": " + Fixed(s.seconds, 3);
        if (s.hasVideo) j += ", \"video\": " + VideoJson(s.video);
        if (s.hasIo) j += ", \"io\": " + IoJson(s.io);
        j += ", \"log\": [";
        for (size_t k = 0; k < s.log.size(); ++k)
            j += std::string(k ? ", " : "") + "{\"level\": " + JsonString(LogLevelName(s.log[k].level)) +
                 ", \"text\": " + JsonString(s.log[k].text) + "}";
        j += "]}";
    }
    j += "]}\n";
    return j;
}

bool WriteCheckReport(const CheckReport& report, const std::string& directory, std::string& path,
                      std::string& error) {
    const std::string dir = directory.empty() ? "." : directory;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(dir), ec);
    if (ec && !std::filesystem::is_directory(std::filesystem::u8path(dir))) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    const std::string base = dir.back() == '/' || dir.back() == '\\' ? dir : dir + "/";
    if (!WriteFile(base + CHECK_JSON_NAME, RenderCheckJson(report), error)) return false;
    if (!WriteFile(base + CHECK_MARKDOWN_NAME, RenderCheckMarkdown(report), error)) return false;
    path = base + CHECK_MARKDOWN_NAME;
    return true;
}

}  // namespace cli
}  // namespace zentavo
