#include <vector>

#include "host/HostVersion.h"
#include "runtime/PlatformTypes.h"

namespace zentavo {

HOST_VERSION ReadHostVersion(const char* fileName) {
    HOST_VERSION fallback;  // 5.12
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName, &ignored);
    if (size == 0) return fallback;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoA(fileName, 0, size, block.data())) return fallback;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoLength) ||
        info == nullptr || infoLength < sizeof(VS_FIXEDFILEINFO)) {
        return fallback;
    }
    HOST_VERSION v;
    v.major = HIWORD(info->dwProductVersionMS);
    v.minor = LOWORD(info->dwProductVersionMS);
    v.build = HIWORD(info->dwProductVersionLS);
    v.revision = LOWORD(info->dwProductVersionLS);
    return v;
}

std::string ReadHostDirectory() {
    char path[512] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();  // truncated or failed
    std::string full(path, n);
    const size_t slash = full.rfind('\\');
    if (slash == std::string::npos) return full;
    return full.substr(0, slash + 1);
}

}  // namespace zentavo
