#include "DriverModule.h"

namespace zentavo {
namespace cli {

DriverModule::~DriverModule() {
    if (m_module != nullptr) FreeLibrary(m_module);
}

std::string DriverModule::DefaultPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "Halvencap.dll";
    std::string full(path, n);
    const size_t slash = full.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : full.substr(0, slash + 1)) + "Halvencap.dll";
}

bool DriverModule::Load(const std::string& path, std::string& error) {
    // Full path and altered search order, so the library's own dependencies
    // resolve next to it rather than next to this program.
    m_module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (m_module == nullptr) {
        error = "cannot load the driver library " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    m_create = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(m_module, "CreateIPCaptureEx3")));
    m_delete =
        reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(m_module, "DeleteIPCaptureEx3")));
    if (m_create == nullptr || m_delete == nullptr) {
        error = path + " does not export CreateIPCaptureEx3 and DeleteIPCaptureEx3";
        return false;
    }
    return true;
}

bool DriverModule::HasExport(const char* name) const {
    return m_module != nullptr && GetProcAddress(m_module, name) != nullptr;
}

void* DriverModule::Export(const char* name) const {
    return m_module != nullptr ? reinterpret_cast<void*>(GetProcAddress(m_module, name)) : nullptr;
}

ipcapture::IIPCaptureDriverEx5* DriverModule::Create() const {
    if (m_create == nullptr) return nullptr;
    return static_cast<ipcapture::IIPCaptureDriverEx5*>(m_create());
}

void DriverModule::Delete(ipcapture::IIPCaptureDriverEx5* driver) const {
    if (m_delete != nullptr && driver != nullptr) m_delete(driver);
}

void DriverDeleter::operator()(ipcapture::IIPCaptureDriverEx5* driver) const {
    if (driver == nullptr || module == nullptr) return;
    driver->Close();
    module->Delete(driver);
}

}  // namespace cli
}  // namespace zentavo
