// The driver library, loaded by path and reached only through its exported
// factory, the way a recording server loads it.
#pragma once

#include <memory>
#include <string>

#include "host/DriverInterfaces.h"
#include "runtime/PlatformTypes.h"

namespace zentavo {
namespace cli {

class DriverModule {
public:
    DriverModule() = default;
    ~DriverModule();
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    // Halvencap.dll in the directory of the running program.
    static std::string DefaultPath();

    bool Load(const std::string& path, std::string& error);
    bool HasExport(const char* name) const;
    void* Export(const char* name) const;
    ipcapture::IIPCaptureDriverEx5* Create() const;
    void Delete(ipcapture::IIPCaptureDriverEx5* driver) const;

private:
    HMODULE m_module = nullptr;
    void* (*m_create)() = nullptr;
    void (*m_delete)(void*) = nullptr;
};

// Owns one driver; closes and deletes it through the library's export.
struct DriverDeleter {
    const DriverModule* module;
    void operator()(ipcapture::IIPCaptureDriverEx5* driver) const;
};
using DriverPtr = std::unique_ptr<ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

}  // namespace cli
}  // namespace zentavo
