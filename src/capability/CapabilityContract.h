// Objects the host hands to a capability query: the result object the probe
// writes into, the items and lists it gives out, and the callback that hears
// how the probe ended. MSVC vtables as in host/HostContract.h: slot 0 is the
// deleting destructor, unused slots are placeholders so that every used
// operation lands on its index. The driver only calls these.
#pragma once

#include <cstdint>

namespace zentavo {
namespace ipcapture {

// A device field or a named text group: slots 1, 4, 5 and 6 are used.
class ICapabilityItem {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void SetText(const char* text) = 0;                                   // 1
    virtual void Reserved2() {}                                                   // 2
    virtual void Reserved3() {}                                                   // 3
    virtual void SetFlag(int32_t value) = 0;                                      // 4
    virtual void SetName(const char* text) = 0;                                   // 5
    virtual void SetOption(int32_t value) = 0;                                    // 6
};

// Picture sizes with their shortest frame interval: slot 1.
class IFrameSizeList {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Add(const char* text, uint32_t width, uint32_t height,
                     uint32_t frameIntervalMs) = 0;                               // 1
};

// Frame intervals in milliseconds: slot 1 the preferred one, slot 2 each.
class IFrameIntervalList {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void SetDefault(uint32_t intervalMs) = 0;                             // 1
    virtual void Add(uint32_t intervalMs) = 0;                                    // 2
};

// The host's result object: slots 1, 2, 3, 5, 6 and 8 are used.
class ICapabilityResults {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void SetItem(int32_t id, int32_t value) = 0;                          // 1
    virtual void SetName(const char* text) = 0;                                   // 2
    virtual ICapabilityItem* GetDeviceField(int32_t index) = 0;                   // 3
    virtual void Reserved4() {}                                                   // 4
    virtual ICapabilityItem* GetGroup(int32_t id) = 0;                            // 5
    virtual IFrameSizeList* GetFrameSizeList() = 0;                               // 6
    virtual void Reserved7() {}                                                   // 7
    virtual IFrameIntervalList* GetFrameIntervalList(int32_t kind) = 0;           // 8
};

// How a probe ended: slots 2, 3 and 4 are used. OnCompleted and OnFailed
// come on the probe's own thread, OnThreadTerminated on the thread that
// destroys the query after it had to kill the probe.
class ICapabilityQueryCallback {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Reserved1() {}                                                   // 1
    virtual void OnCompleted() = 0;                                               // 2
    virtual void OnFailed(int32_t code, const char* message) = 0;                 // 3
    virtual void OnThreadTerminated() = 0;                                        // 4
};

// Codes of OnFailed.
enum CapabilityFailure : int32_t {
    CAPABILITY_BAD_ADDRESS = 0,
    CAPABILITY_LOGIN_REFUSED = 1,
    CAPABILITY_UNREACHABLE = 2,
    CAPABILITY_OTHER_FAILURE = 3,
};

}  // namespace ipcapture
}  // namespace zentavo
