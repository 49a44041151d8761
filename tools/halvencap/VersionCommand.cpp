#include "VersionCommand.h"

#include <cstdio>
#include <vector>

#include "DriverModule.h"
#include "ExitCodes.h"
#include "runtime/PlatformTypes.h"

#include <winver.h>

#ifndef HALVENCAP_VERSION_TEXT
#define HALVENCAP_VERSION_TEXT "0.0.0.0"
#endif

namespace zentavo {
namespace cli {

bool ReadFileVersion(const std::string& path, std::string& version, std::string& error) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) {
        error = "no version resource in " + path;
        return false;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
        error = "cannot read the version resource of " + path;
        return false;
    }
    // The fixed numbers, not the display string: they are what installers
    // and Windows itself compare.
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD) {
        error = "the version resource of " + path + " has no file version";
        return false;
    }
    version = std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) +
              "." + std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
              std::to_string(LOWORD(info->dwFileVersionLS));
    return true;
}

int RunVersion(const Options& options) {
    std::printf("halvencap %s\n", HALVENCAP_VERSION_TEXT);
    std::fflush(stdout);

    // Loaded the way the other commands load it, so the file named is the
    // one that would really run, wherever the search order found it.
    const std::string requested = options.dllPath.empty() ? DriverModule::DefaultPath() : options.dllPath;
    DriverModule module;
    std::string error;
    if (!module.Load(requested, error)) {
        std::fprintf(stderr, "halvencap: %s\n", error.c_str());
        return EXIT_FAILURE_OTHER;
    }
    HMODULE handle = nullptr;
    char path[MAX_PATH + 1] = {};
    DWORD n = 0;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(module.Export("CreateIPCaptureEx3")), &handle))
        n = GetModuleFileNameA(handle, path, MAX_PATH);
    const std::string loaded = (n > 0 && n < MAX_PATH) ? std::string(path, n) : requested;

    std::string version;
    if (!ReadFileVersion(loaded, version, error)) {
        std::fprintf(stderr, "halvencap: %s\n", error.c_str());
        return EXIT_FAILURE_OTHER;
    }
    std::printf("Halvencap.dll %s %s\n", version.c_str(), loaded.c_str());
    return EXIT_OK;
}

}  // namespace cli
}  // namespace zentavo
