// The library's exported factory. Several export names are aliases of these
// functions (see Halvencap.def) for hosts written against older levels.
#include <cstdint>
#include <new>

#include "capability/CapabilityQueryExports.h"
#include "host/HalvencapDriver.h"

namespace {

#if defined(__i386__)
#define HALVENCAP_THISCALL __attribute__((thiscall))
#else
#define HALVENCAP_THISCALL
#endif

// Whatever the library hands out begins with an interface whose first slot
// is the deleting destructor. It is called through the vtable as the host
// would: a stand-in interface class that nothing implements would let the
// optimiser assume the call can never happen.
typedef void* (HALVENCAP_THISCALL* DeletingDestructorFn)(void* self, unsigned flags);

void CallDeletingDestructor(void* object) {
    void** vtable = *static_cast<void***>(object);
    reinterpret_cast<DeletingDestructorFn>(vtable[0])(object, 1);
}

}  // namespace

extern "C" {

// Every export catches: an exception reaching the host ends its process.
void* CreateIPCapture() {
    try {
        zentavo::CHalvencapDriver* driver = new (std::nothrow) zentavo::CHalvencapDriver();
        return static_cast<zentavo::ipcapture::IIPCaptureDriver*>(driver);
    } catch (...) {
        return nullptr;
    }
}

void DeleteIPCapture(void* object) {
    if (object == nullptr) return;
    try {
        CallDeletingDestructor(object);
    } catch (...) {
    }
}

void* CreateCapabilityQueryModule(void* callback, uint32_t videoStandard) {
    try {
        return zentavo::CreateCapabilityQuery(
            static_cast<zentavo::ipcapture::ICapabilityQueryCallback*>(callback), videoStandard);
    } catch (...) {
        return nullptr;
    }
}

int32_t InitCapabilityQuery(void* callback, uint32_t videoStandard) {
    try {
        return zentavo::InitProcessCapabilityQuery(
            static_cast<zentavo::ipcapture::ICapabilityQueryCallback*>(callback), videoStandard);
    } catch (...) {
        return 0;
    }
}

int32_t StartCapabilityQuery(const char* address, uint32_t port, const char* userName, const char* password,
                             void* results) {
    try {
        return zentavo::StartProcessCapabilityQuery(address, port, userName, password,
                                                    static_cast<zentavo::ipcapture::ICapabilityResults*>(results));
    } catch (...) {
        return 0;
    }
}

int32_t UninitCapabilityQuery() {
    try {
        return zentavo::UninitProcessCapabilityQuery();
    } catch (...) {
        return 0;
    }
}

int32_t TerminateCapabilityQuery() {
    try {
        return zentavo::TerminateProcessCapabilityQuery();
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
