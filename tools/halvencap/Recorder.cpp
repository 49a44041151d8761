#include "Recorder.h"

#include <filesystem>
#include <system_error>

namespace zentavo {
namespace cli {

namespace {

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    const char last = directory.back();
    return last == '/' || last == '\\' ? directory + name : directory + "/" + name;
}

bool KnownCode(uint32_t code) {
    return code == CODE_JPEG || code == CODE_H264 || code == CODE_I264 || code == CODE_DIVX || code == CODE_DIVI;
}

}  // namespace

std::string CodeText(uint32_t code) {
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xff);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) text[i] = c;
    }
    return text;
}

// The driver marks the frames a decoder can start on: "H264" access units
// carry their parameter sets, "DIVX" planes are intra-coded with their
// headers; "I264" and "DIVI" depend on earlier frames.
bool IsKeyFrame(uint32_t code) { return code == CODE_JPEG || code == CODE_H264 || code == CODE_DIVX; }

std::string StreamFileName(uint32_t code) {
    if (code == CODE_JPEG) return "video.mjpeg";
    if (code == CODE_H264 || code == CODE_I264) return "video.h264";
    if (code == CODE_DIVX || code == CODE_DIVI) return "video.m4v";
    return "video-" + CodeText(code) + ".bin";
}

std::string FormatCaptureTime(const SYSTEMTIME& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", unsigned(t.wYear) % 10000,
                  unsigned(t.wMonth) % 100, unsigned(t.wDay) % 100, unsigned(t.wHour) % 100,
                  unsigned(t.wMinute) % 100, unsigned(t.wSecond) % 100, unsigned(t.wMilliseconds) % 1000);
    return text;
}

Recorder::~Recorder() { Close(); }

bool Recorder::Open(const std::string& directory, std::string& error) {
    Close();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(directory), ec);
    if (ec && !std::filesystem::is_directory(std::filesystem::path(directory))) {
        error = "cannot create directory " + directory + ": " + ec.message();
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_directory = directory;
    m_streams.clear();
    m_order.clear();
    const std::string indexPath = JoinPath(directory, INDEX_FILE_NAME);
    m_index = std::fopen(indexPath.c_str(), "wb");
    if (m_index == nullptr) {
        error = "cannot write " + indexPath;
        return false;
    }
    std::fprintf(m_index, "%s\n", INDEX_HEADER);
    m_stats = RecorderStats();
    return true;
}

Recorder::Stream* Recorder::StreamFor(uint32_t code) {
    const std::string name = StreamFileName(code);
    Stream& stream = m_streams[name];
    if (stream.file == nullptr && stream.name.empty()) {
        stream.name = name;
        stream.file = std::fopen(JoinPath(m_directory, name).c_str(), "wb");
        m_order.push_back(name);
    }
    return stream.file != nullptr ? &stream : nullptr;
}

Recorder::WriteResult Recorder::Write(const FrameInfo& info, const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_index == nullptr || data == nullptr || size == 0) return WriteResult::Failed;
    const bool key = IsKeyFrame(info.code);
    Stream* stream = StreamFor(info.code);
    if (stream == nullptr) {
        ++m_stats.writeErrors;
        return WriteResult::Failed;
    }
    // A decoder cannot start on an inter frame; what comes before the first
    // key frame of a stream would only show up as garbage in a player.
    if (!stream->started && !key && KnownCode(info.code)) {
        ++m_stats.skipped;
        return WriteResult::Skipped;
    }
    if (std::fwrite(data, 1, size, stream->file) != size) {
        ++m_stats.writeErrors;
        return WriteResult::Failed;
    }
    stream->started = true;
    const uint64_t offset = stream->offset;
    stream->offset += size;
    std::fprintf(m_index, "%s,%llu,%s,%d,%s,%llu,%u,%u\n",
                 info.timeSet ? FormatCaptureTime(info.captureTime).c_str() : "", static_cast<unsigned long long>(size), CodeText(info.code).c_str(),
                 key ? 1 : 0, stream->name.c_str(), static_cast<unsigned long long>(offset), info.width, info.height);
    ++m_stats.frames;
    m_stats.bytes += size;
    if (key) ++m_stats.keyFrames;
    m_stats.lastWidth = info.width;
    m_stats.lastHeight = info.height;
    return WriteResult::Written;
}

void Recorder::Flush() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_index != nullptr) std::fflush(m_index);
    for (auto& entry : m_streams)
        if (entry.second.file != nullptr) std::fflush(entry.second.file);
}

void Recorder::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_streams) {
        if (entry.second.file != nullptr && std::fclose(entry.second.file) != 0) ++m_stats.writeErrors;
        entry.second.file = nullptr;
    }
    if (m_index != nullptr && std::fclose(m_index) != 0) ++m_stats.writeErrors;
    m_index = nullptr;
}

RecorderStats Recorder::Stats() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

std::vector<std::string> Recorder::StreamFiles() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> files;
    for (const std::string& name : m_order) files.push_back(JoinPath(m_directory, name));
    return files;
}

std::string Recorder::IndexPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return JoinPath(m_directory, INDEX_FILE_NAME);
}

}  // namespace cli
}  // namespace zentavo
