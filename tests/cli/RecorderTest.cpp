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
    FrameInfo arrived = Info(CODE_JPEG);
    arrived.arrivalMs = 1765262645007ull;
    EXPECT_EQ(recorder.Write(arrived, a.data(), a.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_JPEG, false), b.data(), b.size()), Recorder::WriteResult::Written);
    recorder.Close();

    EXPECT_EQ(ReadAll(dir.File("nested/rec/video.mjpeg")), std::string(a.begin(), a.end()) + std::string(b.begin(), b.end()));
    const std::vector<std::string> index = Lines(ReadAll(dir.File("nested/rec/index.csv")));
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0], "time,size,code,key,file,offset,width,height,arrival");
    EXPECT_EQ(index[1], "2026-12-08T07:24:05.123Z,15,JPEG,1,video.mjpeg,0,640,480,1765262645.007");
    EXPECT_EQ(index[2], ",7,JPEG,1,video.mjpeg,15,640,480,");
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

namespace {

const std::string AUD("\x00\x00\x01\x09\x30", 5);

// An access unit as the driver delivers it: its NAL units, then the
// delimiter that opens the next one.
std::vector<uint8_t> AccessUnit(const std::string& nals) { return Bytes(nals + AUD); }

struct IndexRow {
    uint64_t size = 0;
    uint64_t offset = 0;
    std::string code;
    std::string file;
};

std::vector<IndexRow> IndexRows(const std::string& path) {
    std::vector<IndexRow> rows;
    const std::vector<std::string> lines = Lines(ReadAll(path));
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> f;
        std::stringstream s(lines[i]);
        for (std::string field; std::getline(s, field, ',');) f.push_back(field);
        if (f.size() != 8) return {};
        rows.push_back({std::stoull(f[1]), std::stoull(f[5]), f[2], f[4]});
    }
    return rows;
}

}  // namespace

TEST(CliRecorder, RecognisesATrailingAccessUnitDelimiter) {
    const std::vector<uint8_t> unit = Bytes(std::string("\x00\x00\x01\x65picture", 11) + AUD);
    EXPECT_EQ(TrailingAccessUnitDelimiter(unit.data(), unit.size()), 5u);
    for (uint8_t payload : {0x10, 0x30, 0x50, 0xf0}) {  // every primary_pic_type
        std::vector<uint8_t> u = unit;
        u.back() = payload;
        EXPECT_EQ(TrailingAccessUnitDelimiter(u.data(), u.size()), 5u) << int(payload);
    }
    std::vector<uint8_t> u = unit;
    u.back() = 0x31;  // no stop bit where it belongs
    EXPECT_EQ(TrailingAccessUnitDelimiter(u.data(), u.size()), 0u);
    u = unit;
    u[u.size() - 2] = 0x06;  // a SEI NAL unit, not a delimiter
    EXPECT_EQ(TrailingAccessUnitDelimiter(u.data(), u.size()), 0u);
    u = unit;
    u[u.size() - 3] = 0x02;  // no start code
    EXPECT_EQ(TrailingAccessUnitDelimiter(u.data(), u.size()), 0u);
    // A delimiter alone is all the frame there is, not something trailing.
    const std::vector<uint8_t> alone = Bytes(AUD);
    EXPECT_EQ(TrailingAccessUnitDelimiter(alone.data(), alone.size()), 0u);
    EXPECT_EQ(TrailingAccessUnitDelimiter(nullptr, 0), 0u);
}

TEST(CliRecorder, H264FileEndsWithTheLastPictureNotWithALoneDelimiter) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    const std::vector<uint8_t> idr = AccessUnit(std::string("\x00\x00\x01\x67sps\x00\x00\x01\x68pps\x00\x00\x01\x65idr", 21));
    const std::vector<uint8_t> p1 = AccessUnit(std::string("\x00\x00\x01\x41p-one", 9));
    const std::vector<uint8_t> p2 = AccessUnit(std::string("\x00\x00\x01\x41p-two", 9));
    EXPECT_EQ(recorder.Write(Info(CODE_H264), idr.data(), idr.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_I264), p1.data(), p1.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_I264), p2.data(), p2.size()), Recorder::WriteResult::Written);
    // While recording, the file already holds every delimiter that has a
    // picture after it, and never a lone one at its end.
    recorder.Flush();
    const std::string all = std::string(idr.begin(), idr.end()) + std::string(p1.begin(), p1.end()) +
                            std::string(p2.begin(), p2.end());
    EXPECT_EQ(ReadAll(dir.File("video.h264")), all.substr(0, all.size() - 5));
    recorder.Close();

    EXPECT_EQ(ReadAll(dir.File("video.h264")), all.substr(0, all.size() - 5));
    const std::vector<IndexRow> rows = IndexRows(dir.File("index.csv"));
    ASSERT_EQ(rows.size(), 3u);
    // The index tiles the file: the delivered sizes, the last one without
    // the delimiter dropped.
    EXPECT_EQ(rows[0].size, idr.size());
    EXPECT_EQ(rows[0].offset, 0u);
    EXPECT_EQ(rows[1].size, p1.size());
    EXPECT_EQ(rows[1].offset, idr.size());
    EXPECT_EQ(rows[2].size, p2.size() - 5);
    EXPECT_EQ(rows[2].offset, idr.size() + p1.size());
    EXPECT_EQ(rows[2].code, "I264");
    EXPECT_EQ(recorder.Stats().bytes, all.size() - 5);
    EXPECT_EQ(recorder.Stats().frames, 3u);
    EXPECT_EQ(recorder.Stats().writeErrors, 0u);
}

TEST(CliRecorder, ShortenedIndexLineLeavesNothingOfTheOldOneBehind) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    // 1003 bytes delivered, 998 kept: the size loses a digit.
    const std::vector<uint8_t> unit = AccessUnit(std::string("\x00\x00\x01\x65", 4) + std::string(994, 'x'));
    ASSERT_EQ(unit.size(), 1003u);
    EXPECT_EQ(recorder.Write(Info(CODE_H264), unit.data(), unit.size()), Recorder::WriteResult::Written);
    recorder.Close();
    const std::vector<std::string> index = Lines(ReadAll(dir.File("index.csv")));
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[1], "2026-12-08T07:24:05.123Z,998,H264,1,video.h264,0,640,480,");
    EXPECT_EQ(ReadAll(dir.File("video.h264")).size(), 998u);
    EXPECT_EQ(recorder.Stats().writeErrors, 0u);
}

TEST(CliRecorder, OnlyTheH264StreamLosesItsTrailingDelimiter) {
    TempDir dir;
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.Path(), error)) << error;
    const std::vector<uint8_t> h264 = AccessUnit(std::string("\x00\x00\x01\x65idr", 7));
    // The same bytes in another kind of stream are that stream's business.
    const std::vector<uint8_t> other = Bytes(std::string("\x00\x00\x01\xb6vop", 7) + AUD);
    EXPECT_EQ(recorder.Write(Info(CODE_H264), h264.data(), h264.size()), Recorder::WriteResult::Written);
    EXPECT_EQ(recorder.Write(Info(CODE_DIVX), other.data(), other.size()), Recorder::WriteResult::Written);
    recorder.Close();

    EXPECT_EQ(ReadAll(dir.File("video.h264")), std::string(h264.begin(), h264.end() - 5));
    EXPECT_EQ(ReadAll(dir.File("video.m4v")), std::string(other.begin(), other.end()));
    // The H.264 line is not the last one of the index; the line after it
    // stays as it was.
    const std::vector<IndexRow> rows = IndexRows(dir.File("index.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].file, "video.h264");
    EXPECT_EQ(rows[0].size, h264.size() - 5);
    EXPECT_EQ(rows[1].file, "video.m4v");
    EXPECT_EQ(rows[1].size, other.size());
    EXPECT_EQ(rows[1].offset, 0u);
}
