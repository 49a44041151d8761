#include "Recorder.h"

#include <algorithm>
#include <chrono>
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

bool IsH264(uint32_t code) { return code == CODE_H264 || code == CODE_I264; }

constexpr uint8_t NAL_TYPE_ACCESS_UNIT_DELIMITER = 9;
constexpr size_t ACCESS_UNIT_DELIMITER_SIZE = 5;  // 00 00 01, header, primary_pic_type and stop bit

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

std::string FormatArrivalTime(uint64_t ms) {
    if (ms == 0) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000), unsigned(ms % 1000));
    return text;
}

uint64_t ArrivalNowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

size_t TrailingAccessUnitDelimiter(const uint8_t* data, size_t size) {
    if (data == nullptr || size <= ACCESS_UNIT_DELIMITER_SIZE) return 0;
    const uint8_t* d = data + size - ACCESS_UNIT_DELIMITER_SIZE;
    // forbidden_zero_bit 0, any nal_ref_idc, type 9; the payload is three
    // bits of primary_pic_type followed by the stop bit.
    const bool delimiter = d[0] == 0 && d[1] == 0 && d[2] == 1 && (d[3] & 0x80) == 0 &&
                           (d[3] & 0x1f) == NAL_TYPE_ACCESS_UNIT_DELIMITER && (d[4] & 0x1f) == 0x10;
    return delimiter ? ACCESS_UNIT_DELIMITER_SIZE : 0;
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
    m_indexPath = indexPath;
    // Readable too: Close may rewrite the last lines.
    m_index = std::fopen(indexPath.c_str(), "w+b");
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
    // A delimiter held back from the stream's previous frame now has a
    // picture after it.
    if (!stream->heldBack.empty()) {
        if (std::fwrite(stream->heldBack.data(), 1, stream->heldBack.size(), stream->file) != stream->heldBack.size()) {
            ++m_stats.writeErrors;
            return WriteResult::Failed;
        }
        stream->heldBack.clear();
    }
    const size_t held = IsH264(info.code) ? TrailingAccessUnitDelimiter(data, size) : 0;
    if (std::fwrite(data, 1, size - held, stream->file) != size - held) {
        ++m_stats.writeErrors;
        return WriteResult::Failed;
    }
    stream->heldBack.assign(data + size - held, data + size);
    stream->started = true;
    IndexLine& line = stream->lastLine;
    line.time = info.timeSet ? FormatCaptureTime(info.captureTime) : "";
    line.size = size;
    line.code = info.code;
    line.offset = stream->offset;
    line.width = info.width;
    line.height = info.height;
    line.arrivalMs = info.arrivalMs;
    line.position = std::ftell(m_index);
    stream->offset += size;
    const std::string text = IndexLineText(line, stream->name);
    std::fwrite(text.data(), 1, text.size(), m_index);
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

std::string Recorder::IndexLineText(const IndexLine& line, const std::string& file) const {
    char text[300];
    std::snprintf(text, sizeof text, "%s,%llu,%s,%d,%s,%llu,%u,%u,%s\n", line.time.c_str(),
                  static_cast<unsigned long long>(line.size), CodeText(line.code).c_str(), IsKeyFrame(line.code) ? 1 : 0,
                  file.c_str(), static_cast<unsigned long long>(line.offset), line.width, line.height,
                  FormatArrivalTime(line.arrivalMs).c_str());
    return text;
}

void Recorder::CorrectIndexAfterDroppedDelimiters() {
    std::vector<Stream*> shortened;
    for (auto& entry : m_streams)
        if (!entry.second.heldBack.empty() && entry.second.lastLine.position >= 0) shortened.push_back(&entry.second);
    if (shortened.empty()) return;
    std::sort(shortened.begin(), shortened.end(),
              [](const Stream* a, const Stream* b) { return a->lastLine.position < b->lastLine.position; });
    // Everything from the first line to change to the end is read back and
    // written again with the new sizes.
    const long from = shortened.front()->lastLine.position;
    if (std::fflush(m_index) != 0 || std::fseek(m_index, 0, SEEK_END) != 0) {
        ++m_stats.writeErrors;
        return;
    }
    const long end = std::ftell(m_index);
    std::string tail(static_cast<size_t>(end - from), '\0');
    if (std::fseek(m_index, from, SEEK_SET) != 0 || std::fread(&tail[0], 1, tail.size(), m_index) != tail.size()) {
        ++m_stats.writeErrors;
        return;
    }
    std::string rewritten;
    size_t at = 0;  // in tail
    for (Stream* stream : shortened) {
        IndexLine& line = stream->lastLine;
        const std::string before = IndexLineText(line, stream->name);
        const size_t lineAt = static_cast<size_t>(line.position - from);
        if (tail.compare(lineAt, before.size(), before) != 0) {  // not what was written: leave the index alone
            ++m_stats.writeErrors;
            return;
        }
        rewritten.append(tail, at, lineAt - at);
        line.size -= stream->heldBack.size();
        rewritten += IndexLineText(line, stream->name);
        at = lineAt + before.size();
    }
    rewritten.append(tail, at, std::string::npos);
    if (std::fseek(m_index, from, SEEK_SET) != 0 ||
        std::fwrite(rewritten.data(), 1, rewritten.size(), m_index) != rewritten.size()) {
        ++m_stats.writeErrors;
        return;
    }
    // A size with one digit less leaves the old end behind; the file is cut
    // once it is closed.
    if (rewritten.size() < tail.size()) m_indexLength = from + static_cast<long>(rewritten.size());
}

void Recorder::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_indexLength = -1;
    if (m_index != nullptr) CorrectIndexAfterDroppedDelimiters();
    for (auto& entry : m_streams) {
        Stream& stream = entry.second;
        // What is still held back is a delimiter with nothing after it.
        if (!stream.heldBack.empty()) {
            stream.offset -= stream.heldBack.size();
            m_stats.bytes -= stream.heldBack.size();
            stream.heldBack.clear();
        }
        if (stream.file != nullptr && std::fclose(stream.file) != 0) ++m_stats.writeErrors;
        stream.file = nullptr;
    }
    if (m_index != nullptr && std::fclose(m_index) != 0) ++m_stats.writeErrors;
    m_index = nullptr;
    if (m_indexLength >= 0) {
        std::error_code ec;
        std::filesystem::resize_file(std::filesystem::path(m_indexPath), static_cast<uintmax_t>(m_indexLength), ec);
        if (ec) ++m_stats.writeErrors;
        m_indexLength = -1;
    }
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
