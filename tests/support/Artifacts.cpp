#include "support/Artifacts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace halvencap_test {

void SaveArtifact(const char* name, const std::vector<FrameRecord>& frames) {
    const char* dir = std::getenv("HALVENCAP_ARTIFACTS");
    if (dir == nullptr || frames.empty()) return;
    std::string path = std::string("Z:") + dir + "/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    // Every H.264 frame ends with an access unit delimiter, which opens the
    // next access unit; at the end of the file there is none to open.
    static const uint8_t kDelimiter[5] = {0, 0, 1, 0x09, 0x30};
    const bool h264 = std::string(name).size() > 5 && std::string(name).rfind(".h264") == std::string(name).size() - 5;
    for (size_t i = 0; i < frames.size(); ++i) {
        size_t size = frames[i].data.size();
        if (h264 && i + 1 == frames.size() && size >= 5 &&
            std::equal(kDelimiter, kDelimiter + 5, frames[i].data.end() - 5))
            size -= 5;
        std::fwrite(frames[i].data.data(), 1, size, f);
    }
    std::fclose(f);
}

int64_t FileTimeOf(const SYSTEMTIME& t) {
    FILETIME f;
    if (!SystemTimeToFileTime(&t, &f)) return 0;
    return (static_cast<int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

int64_t FileTimeNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FileTimeOf(now);
}

}  // namespace halvencap_test
