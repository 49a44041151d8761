#include "support/DriverLibrary.h"

namespace halvencap_test {

std::string DriverDllPath() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, n);
    const size_t slash = full.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : full.substr(0, slash + 1)) + "Halvencap.dll";
}

DriverLibrary::DriverLibrary() {
    m_module = LoadLibraryA(DriverDllPath().c_str());
    if (m_module == nullptr) return;
    m_create = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(m_module, "CreateIPCaptureEx3")));
    m_delete = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(m_module, "DeleteIPCaptureEx3")));
}

DriverLibrary::~DriverLibrary() {
    if (m_module != nullptr) FreeLibrary(m_module);
}

zentavo::ipcapture::IIPCaptureDriverEx5* DriverLibrary::Create() const {
    if (!Loaded()) return nullptr;
    return static_cast<zentavo::ipcapture::IIPCaptureDriverEx5*>(m_create());
}

void DriverLibrary::Delete(void* object) const {
    if (m_delete != nullptr) m_delete(object);
}

void* DriverLibrary::Export(const char* name) const {
    return m_module != nullptr ? reinterpret_cast<void*>(GetProcAddress(m_module, name)) : nullptr;
}

}  // namespace halvencap_test
