#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/halvencap/Recorder.h"

using namespace zentavo::cli;

namespace {

// Test runs of several builds may share the temporary directory.
std::string RunTag() {
    static const std::string tag = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return tag;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        m_path = (std::filesystem::temp_directory_path() /
                  ("halvencap-cli-recorder-" + RunTag() + "-" + std::to_string(++counter)))
                     .string();
        std::filesystem::remove_all(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

FrameInfo Info(uint32_t code, bool withTime = true) {
    FrameInfo info;
    info.code = code;
    info.width = 640;
    info.height = 480;
    info.timeSet = withTime;
    info.captureTime = SYSTEMTIME{2026, 12, 2, 8, 7, 24, 5, 123};
    return info;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace

TEST(CliRecorder, MotionJpegPicturesFollowEachOtherWithOneIndexLineEach) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path() + "/nested/rec", error)) << error;
    const std::vector<uint8_t> a = Bytes("\xFF\xD8picture-one\xFF\xD9"), b = Bytes("\xFF\xD8two\xFF\xD9");
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG), a.data(), a.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG, false), b.data(), b.size()), Recorder::WriteResult::Written);
    recorder.Close();

    EXPECT_EQ(ReadAll(dir.File("nested/rec/video.mjpeg")), std::string(a.begin(), a.end()) + std::string(b.begin(), b.end()));
    const std::vector<std::string> index = Lines(ReadAll(dir.File("nested/rec/index.csv")));
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0], "time,size,code,key,file,offset,width,height");
    EXPECT_EQ(index[1], "2026-12-08T07:24:05.123Z,15,JPEG,1,video.mjpeg,0,640,480");
    EXPECT_EQ(index[2], ",7,JPEG,1,video.mjpeg,15,640,480");
    const RecorderStats stats = recorder.Stats();
    EXPECT_EQ(stats.frames, 2u);
    EXPECT_EQ(stats.bytes, 22u);
    EXPECT_EQ(stats.keyFrames, 2u);
    EXPECT_EQ(recorder.StreamFiles(), std::vector<std::string>{dir.Path() + "/nested/rec/video.mjpeg"});
}

TEST(CliRecorder, InterFramesBeforeTheFirstKeyFrameAreSkippedPerStream) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    const std::vector<uint8_t> p = Bytes("P"), i = Bytes("II");
    EXPECT_EQ(recorder.Write(Info(CODE_I264), p.data(), p.size()), Recorder::WriteResult::Skipped);
    EXPECT_EQ(recorder.Write(Info(CODE_DIVI), p.data(), p.size()), Recorder::WriteResult::Skipped);
    EXPECT_EQ(recorder.Write(Info(CODE_H264), i.data(), i.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_I264), p.data(), p.size()), Recorder::WriteResult::Written);
    // The MPEG-4 stream has still not seen its key frame.
    EXPECT_EQ(recorder.Write(Info(CODE_DIVI), p.data(), p.size()), Recorder::WriteResult::Skipped);
    EXPECT_EQ(recorder.Write(Info(CODE_DIVX), i.data(), i.size()), Recorder::WriteResult::Written);
    recorder.Close();

    EXPECT_EQ(ReadAll(dir.File("video.h264")), "IIP");
    EXPECT_EQ(ReadAll(dir.File("video.m4v")), "II");
    const std::vector<std::string> index = Lines(ReadAll(dir.File("index.csv")));
    ASSERT_EQ(index.size(), 4u);
    EXPECT_NE(index[1].find(",2,H264,1,video.h264,0,"), std::string::npos) << index[1];
    EXPECT_NE(index[2].find(",1,I264,0,video.h264,2,"), std::string::npos) << index[2];
    EXPECT_NE(index[3].find(",2,DIVX,1,video.m4v,0,"), std::string::npos) << index[3];
    EXPECT_EQ(recorder.Stats().skipped, 3u);
    EXPECT_EQ(recorder.Stats().keyFrames, 2u);
}

TEST(CliRecorder, StreamFilesByCode) {
    EXPECT_EQ(StreamFileName(CODE_JPEG), "video.mjpeg");
    EXPECT_EQ(StreamFileName(CODE_H264), "video.h264");
    EXPECT_EQ(StreamFileName(CODE_I264), "video.h264");
    EXPECT_EQ(StreamFileName(CODE_DIVX), "video.m4v");
    EXPECT_EQ(StreamFileName(CODE_DIVI), "video.m4v");
    // Nothing the driver sends can steer the file name out of the directory.
    EXPECT_EQ(StreamFileName(MakeCode('.', '.', '/', 'x')), "video-???x.bin");
    EXPECT_EQ(CodeText(0), "????");
    EXPECT_TRUE(IsKeyFrame(CODE_JPEG));
    EXPECT_TRUE(IsKeyFrame(CODE_H264));   // carries its parameter sets
    EXPECT_TRUE(IsKeyFrame(CODE_DIVX));   // intra-coded with its headers
    EXPECT_FALSE(IsKeyFrame(CODE_I264));
    EXPECT_FALSE(IsKeyFrame(CODE_DIVI));
}

TEST(CliRecorder, UnknownCodesGoToTheirOwnFile) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    const std::vector<uint8_t> d = Bytes("data");
    EXPECT_EQ(recorder.Write(Info(MakeCode('R', 'A', 'W', '1')), d.data(), d.size()), Recorder::WriteResult::Written);
    recorder.Close();
    EXPECT_EQ(ReadAll(dir.File("video-RAW1.bin")), "data");
}

TEST(CliRecorder, RefusesWhatCannotBeWritten) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path());
    { std::ofstream(dir.File("plainfile")) << "x"; }
    Recorder recorder;
    std::string error;
    EXPECT_FALSE(recorder.Open(dir.File("plainfile"), error));
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    const std::vector<uint8_t> d = Bytes("x");
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG), nullptr, 1), Recorder::WriteResult::Failed);
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG), d.data(), 0), Recorder::WriteResult::Failed);
    recorder.Close();
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG), d.data(), d.size()), Recorder::WriteResult::Failed);
    EXPECT_EQ(recorder.Stats().frames, 0u);
}

TEST(CliRecorder, ReopeningStartsFreshFiles) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    const std::vector<uint8_t> d = Bytes("abc");
    ASSERT_TRUE(recorder.Open(dir.Path(), error));
    recorder.Write(Info(CODE_JPEG), d.data(), d.size());
    ASSERT_TRUE(recorder.Open(dir.Path(), error));
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG), d.data(), 2), Recorder::WriteResult::Written);
    recorder.Close();
    EXPECT_EQ(ReadAll(dir.File("video.mjpeg")), "ab");
    EXPECT_EQ(Lines(ReadAll(dir.File("index.csv"))).size(), 2u);
}
