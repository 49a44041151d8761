#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/halvencap/CheckReport.h"
#include "../../tools/halvencap/CheckVideoMeter.h"
#include "../../tools/halvencap/ExitCodes.h"

using namespace zentavo::cli;

namespace {

CheckStep Step(const char* id, StepResult result, int failCode = 0, const char* detail = "") {
    CheckStep s;
    s.id = id;
    s.title = id;
    s.result = result;
    s.failCode = failCode;
    s.detail = detail;
    return s;
}

CheckReport Report(std::vector<CheckStep> steps) {
    CheckReport r;
    r.device = "10.0.0.5:80";
    r.user = "admin";
    r.started = "2026-12-09T15:40:12Z";
    r.driver = "Halvencap.dll";
    r.steps = std::move(steps);
    return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CheckReport, ExitCodeIsTheGravestFailure) {
    const StepResult P = StepResult::Passed, F = StepResult::Failed, S = StepResult::Skipped;
    const struct {
        const char* name;
        std::vector<CheckStep> steps;
        int expected;
    } rows[] = {
        {"all passed", {Step("reach", P), Step("mjpeg", P), Step("io", P)}, EXIT_OK},
        {"formats not offered are no fault", {Step("reach", P), Step("h264", S, 0, "not offered")}, EXIT_OK},
        {"unreachable", {Step("reach", F, EXIT_DEVICE_UNREACHABLE), Step("mjpeg", S)}, EXIT_DEVICE_UNREACHABLE},
        {"no video", {Step("reach", P), Step("mjpeg", F, EXIT_NO_VIDEO), Step("io", P)}, EXIT_NO_VIDEO},
        {"I/O only", {Step("reach", P), Step("mjpeg", P), Step("io", F, EXIT_FAILURE_OTHER)}, EXIT_FAILURE_OTHER},
        {"refusal outweighs no video, whatever the order",
         {Step("h264", F, EXIT_NO_VIDEO), Step("mjpeg", F, EXIT_DEVICE_UNREACHABLE)}, EXIT_DEVICE_UNREACHABLE},
        {"no video outweighs other failures", {Step("probe", F, EXIT_FAILURE_OTHER), Step("mjpeg", F, EXIT_NO_VIDEO)},
         EXIT_NO_VIDEO},
        {"a failure without a code is still one", {Step("probe", F, 0)}, EXIT_FAILURE_OTHER},
    };
    for (const auto& row : rows) {
        const CheckReport r = Report(row.steps);
        EXPECT_EQ(CheckExitCode(r), row.expected) << row.name;
        EXPECT_EQ(Has(RenderCheckJson(r), "\"fit\": true"), row.expected == EXIT_OK) << row.name;
    }
}

TEST(CheckReport, VerdictNamesTheFirstFailedStep) {
    EXPECT_EQ(CheckVerdict(Report({Step("reach", StepResult::Passed)})), "fit for recording");
    CheckStep video = Step("mjpeg", StepResult::Failed, EXIT_NO_VIDEO, "no video in 10.0 s");
    video.title = "Motion JPEG video";
    EXPECT_EQ(CheckVerdict(Report({Step("reach", StepResult::Passed), video, Step("io", StepResult::Failed, 1)})),
              "not fit for recording: Motion JPEG video failed (no video in 10.0 s)");
}

TEST(CheckReport, VideoFiguresFromArrivals) {
    const struct {
        const char* name;
        std::vector<double> arrivals;  // seconds; every third frame a key frame
        double end;
        uint64_t frames, keyFrames;
        double longestGapMs, firstAt;
    } rows[] = {
        {"steady after a slow start: the start is no gap", {3.5, 3.6, 3.7, 3.8}, 3.85, 4, 2, 100, 3.5},
        {"stall in the middle", {0.1, 0.2, 3.2, 3.3}, 3.35, 4, 2, 3000, 0.1},
        {"stream ends early: silence to the end counts", {0.1, 0.2}, 9.2, 2, 1, 9000, 0.1},
        {"nothing came: silent throughout", {}, 10.0, 0, 0, 10000, -1},
    };
    for (const auto& row : rows) {
        CheckVideoMeter meter;
        for (size_t i = 0; i < row.arrivals.size(); ++i)
            meter.Frame(row.arrivals[i], 100 + 10 * i, i % 3 == 0, 640, 480);
        const VideoFigures f = meter.Finish(row.end);
        EXPECT_EQ(f.frames, row.frames) << row.name;
        EXPECT_EQ(f.keyFrames, row.keyFrames) << row.name;
        EXPECT_NEAR(f.longestGapMs, row.longestGapMs, 0.5) << row.name;
        EXPECT_NEAR(f.firstFrameAt, row.firstAt, 1e-9) << row.name;
        EXPECT_NEAR(f.FramesPerSecond(), row.frames ? row.frames / (row.end - row.firstAt) : 0.0, 1e-9) << row.name;
        if (row.frames != 0) {
            EXPECT_EQ(f.smallest, 100u) << row.name;
            EXPECT_EQ(f.largest, 100 + 10 * (row.frames - 1)) << row.name;
        }
    }
}

TEST(CheckReport, MarkdownKeepsCellsAndLogBlocksIntact) {
    CheckStep video = Step("mjpeg", StepResult::Failed, EXIT_NO_VIDEO, "camera said a|b\r\nthen quit");
    video.hasVideo = true;
    video.video.frames = 3;
    video.video.seconds = 1.5;
    video.video.firstFrameAt = 0;
    video.log.push_back({1, "zentavo::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline or failed"});
    video.log.push_back({2, "odd line ``` inside"});
    CheckStep quiet = Step("h264", StepResult::Skipped, 0, "the camera does not offer H.264");
    const std::string md = RenderCheckMarkdown(Report({Step("reach", StepResult::Passed), video, quiet}));

    EXPECT_TRUE(Has(md, "**not fit for recording: mjpeg failed (camera said a|b  then quit)** (exit code 4)")) << md;
    // In the table the pipe is escaped, and the detail stays on one row.
    EXPECT_TRUE(Has(md, "| mjpeg | failed | 3 frames, 2.0/s, 0 key, longest gap 0 ms | camera said a\\|b  then quit |"))
        << md;
    EXPECT_TRUE(Has(md, "[error] zentavo::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline or failed"));
    // The fence is longer than any run of backticks in the lines it holds.
    EXPECT_TRUE(Has(md, "\n````\n[error]")) << md;
    // A skipped step without lines gets no section of its own.
    EXPECT_FALSE(Has(md, "## h264")) << md;
    EXPECT_TRUE(Has(md, "| h264 | skipped |  | the camera does not offer H.264 |")) << md;
}

TEST(CheckReport, JsonEscapesDriverText) {
    CheckStep io = Step("io", StepResult::Passed);
    io.hasIo = true;
    io.io.inputs = 2;
    io.io.inputsRead = 2;
    io.io.states = "0 active, 1 inactive";
    io.log.push_back({3, "quote \" and backslash \\ and tab\t"});
    const std::string json = RenderCheckJson(Report({io}));
    EXPECT_TRUE(Has(json, "\"text\": \"quote \\\" and backslash \\\\ and tab\\t\"")) << json;
    EXPECT_TRUE(Has(json, "\"level\": \"info\"")) << json;
    EXPECT_TRUE(Has(json, "\"io\": {\"inputs\": 2, \"inputsRead\": 2, \"inputStates\": \"0 active, 1 inactive\""))
        << json;
    EXPECT_TRUE(Has(json, "\"exitCode\": 0")) << json;
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
}

TEST(CheckReport, WritesBothFilesIntoANewDirectory) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "halvencap-check-report-test" / "sub";
    std::filesystem::remove_all(dir.parent_path());
    std::string path, error;
    ASSERT_TRUE(WriteCheckReport(Report({Step("reach", StepResult::Passed)}), dir.string(), path, error)) << error;
    std::ifstream md(dir / CHECK_MARKDOWN_NAME), json(dir / CHECK_JSON_NAME);
    std::stringstream mdText, jsonText;
    mdText << md.rdbuf();
    jsonText << json.rdbuf();
    EXPECT_TRUE(Has(mdText.str(), "# Camera check of 10.0.0.5:80"));
    EXPECT_TRUE(Has(jsonText.str(), "\"device\": \"10.0.0.5:80\""));
    EXPECT_TRUE(Has(path, CHECK_MARKDOWN_NAME));
    md.close();
    json.close();
    std::filesystem::remove_all(dir.parent_path());
}
