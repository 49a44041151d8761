// What `check` found out about a camera, step by step, and its two
// renderings: Markdown for the person who reads a support request and JSON
// for the scripts that sort them. Neither carries the password.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CheckVideoMeter.h"

namespace zentavo {
namespace cli {

enum class StepResult { Passed, Failed, Skipped };

struct CheckLogLine {
    int level = 0;  // the driver's level as the host received it
    std::string text;
};

struct IoFigures {
    uint32_t inputs = 0;        // input indexes the host asked for
    uint32_t inputsRead = 0;    // of those, how many the driver reported a state for
    uint32_t outputs = 0;
    bool switched = false;      // an output was switched on and off again
    uint32_t failures = 0;      // I/O failures the driver reported
    std::string states;         // "0 active, 1 inactive"
};

struct CheckStep {
    std::string id;     // "reach", "login", "probe", "mjpeg", "h264", "mpeg4", "io"
    std::string title;  // "Motion JPEG video"
    StepResult result = StepResult::Skipped;
    std::string detail;  // one line: why it passed, failed or was skipped
    double seconds = 0;
    // The exit code of the program when this step fails.
    int failCode = 0;
    bool hasVideo = false;
    VideoFigures video;
    bool hasIo = false;
    IoFigures io;
    std::vector<CheckLogLine> log;
};

struct CheckReport {
    std::string device;   // address:port
    std::string user;     // the user name only
    std::string started;  // "2026-12-09T15:40:12Z"
    std::string driver;   // path of the driver library
    std::string camera;   // name the camera gave, if the probe got that far
    std::string firmware;
    std::vector<std::string> codecs;
    std::vector<CheckStep> steps;
};

// 0 when every step passed or was skipped for a reason that is no fault;
// otherwise the failCode of the gravest failed step: unreachable or
// refused before no video before anything else.
int CheckExitCode(const CheckReport& report);
// "fit for recording", or "not fit for recording: <first failed step>".
std::string CheckVerdict(const CheckReport& report);
const char* StepResultName(StepResult result);

std::string RenderCheckMarkdown(const CheckReport& report);
std::string RenderCheckJson(const CheckReport& report);

constexpr const char* CHECK_MARKDOWN_NAME = "halvencap-check.md";
constexpr const char* CHECK_JSON_NAME = "halvencap-check.json";

// Writes both renderings into directory (created if needed); on success
// path is the Markdown file's.
bool WriteCheckReport(const CheckReport& report, const std::string& directory, std::string& path,
                      std::string& error);

}  // namespace cli
}  // namespace zentavo
