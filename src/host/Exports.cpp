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

void* CreateIPCapture() {
    zentavo::CHalvencapDriver* driver = new (std::nothrow) zentavo::CHalvencapDriver();
    return static_cast<zentavo::ipcapture::IIPCaptureDriver*>(driver);
}

void DeleteIPCapture(void* object) {
    if (object == nullptr) return;
    CallDeletingDestructor(object);
}

void* CreateCapabilityQueryModule(void* callback, uint32_t videoStandard) {
    return zentavo::CreateCapabilityQuery(static_cast<zentavo::ipcapture::ICapabilityQueryCallback*>(callback),
                                          videoStandard);
}

int32_t InitCapabilityQuery(void* callback, uint32_t videoStandard) {
    return zentavo::InitProcessCapabilityQuery(
        static_cast<zentavo::ipcapture::ICapabilityQueryCallback*>(callback), videoStandard);
}

int32_t StartCapabilityQuery(const char* address, uint32_t port, const char* userName, const char* password,
                             void* results) {
    return zentavo::StartProcessCapabilityQuery(address, port, userName, password,
                                                static_cast<zentavo::ipcapture::ICapabilityResults*>(results));
}

int32_t UninitCapabilityQuery() { return zentavo::UninitProcessCapabilityQuery(); }

int32_t TerminateCapabilityQuery() { return zentavo::TerminateProcessCapabilityQuery(); }

}  // extern "C"
