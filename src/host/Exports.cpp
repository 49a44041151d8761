// The library's exported factory. Several export names are aliases of these
// functions (see Halvencap.def) for hosts written against older levels.
#include <new>

#include "host/HalvencapDriver.h"

namespace {

// Whatever the library hands out begins with an interface whose first slot
// is the deleting destructor.
class IDeletable {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;
};

}  // namespace

extern "C" {

void* CreateIPCapture() {
    zentavo::CHalvencapDriver* driver = new (std::nothrow) zentavo::CHalvencapDriver();
    return static_cast<zentavo::ipcapture::IIPCaptureDriver*>(driver);
}

void DeleteIPCapture(void* object) {
    if (object == nullptr) return;
    static_cast<IDeletable*>(object)->DeletingDestructor(1);
}

}  // extern "C"
