// Loads the shipped Halvencap.dll by path and finds its exports by name, the
// way a recording server does, for end-to-end tests.
#pragma once

#include <memory>
#include <string>

#include "host/DriverInterfaces.h"
#include "runtime/PlatformTypes.h"

namespace halvencap_test {

// Halvencap.dll next to the running test program.
std::string DriverDllPath();

class DriverLibrary {
public:
    DriverLibrary();
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    bool Loaded() const { return m_module != nullptr && m_create != nullptr && m_delete != nullptr; }
    zentavo::ipcapture::IIPCaptureDriverEx5* Create() const;
    void Delete(void* object) const;
    void* Export(const char* name) const;

private:
    HMODULE m_module = nullptr;
    void* (*m_create)() = nullptr;
    void (*m_delete)(void*) = nullptr;
};

// Owns one driver made by the library; deletes it through the export.
struct DriverDeleter {
    const DriverLibrary* library;
    void operator()(zentavo::ipcapture::IIPCaptureDriverEx5* d) const {
        if (library != nullptr) library->Delete(d);
    }
};
using DriverPtr = std::unique_ptr<zentavo::ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

}  // namespace halvencap_test
