// Objects the host supplies to the driver. The host is built with MSVC, so
// every interface here mirrors an MSVC vtable: slot 0 is the deleting
// destructor (one slot taking flags), and slots the driver never calls are
// filled with placeholders so that every used operation lands on its index.
// The driver only calls these objects; the test host implements them.
#pragma once

#include "runtime/PlatformTypes.h"

namespace zentavo {
namespace ipcapture {

class CDebugInfoIf;

// Slot 1: OnDebugMessage.
class IDebugSink {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void OnDebugMessage(CDebugInfoIf* info) = 0;                          // 1
};

// A frame object of the host. Slots 2, 4, 6, 10, 12, 14, 16 are used.
class IHostFrame {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Reserved1() {}                                                   // 1
    virtual uint8_t* GetDataArea() = 0;                                           // 2
    virtual void Reserved3() {}                                                   // 3
    virtual void SetDataSize(uint32_t size) = 0;                                  // 4
    virtual void Reserved5() {}                                                   // 5
    virtual void SetCaptureTime(const SYSTEMTIME* time) = 0;                      // 6
    virtual void Reserved7() {}                                                   // 7
    virtual void Reserved8() {}                                                   // 8
    virtual void Reserved9() {}                                                   // 9
    virtual void SetCode(uint32_t code) = 0;                                      // 10
    virtual void Reserved11() {}                                                  // 11
    virtual void SetHeight(uint32_t height) = 0;                                  // 12
    virtual void Reserved13() {}                                                  // 13
    virtual void SetWidth(uint32_t width) = 0;                                    // 14
    virtual void Reserved15() {}                                                  // 15
    virtual void SetResolutionClass(uint32_t resolutionClass) = 0;                // 16
};

// The host context handed to Open: slot 2 CreateFrame, slot 6 ReleaseFrame.
class IFrameFactory {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Reserved1() {}                                                   // 1
    virtual IHostFrame* CreateFrame(uint32_t code, uint32_t capacity,
                                    const char* sourceName) = 0;                  // 2
    virtual void Reserved3() {}                                                   // 3
    virtual void Reserved4() {}                                                   // 4
    virtual void Reserved5() {}                                                   // 5
    virtual void ReleaseFrame(IHostFrame* frame) = 0;                             // 6
};

// Device description: slot 2 model, 3 channel count, 5 inputs, 6 outputs.
class IDeviceDescription {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Reserved1() {}                                                   // 1
    virtual const char* GetModel() = 0;                                           // 2
    virtual uint32_t GetChannelCount() = 0;                                       // 3
    virtual void Reserved4() {}                                                   // 4
    virtual uint32_t GetInputCount() = 0;                                         // 5
    virtual uint32_t GetOutputCount() = 0;                                        // 6
};

// Connection settings: slot 1 address, 2 port, 4 video format, 5 user, 6 password.
class IConnectionSettings {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual const char* GetAddress() = 0;                                         // 1
    virtual uint16_t GetPort() = 0;                                               // 2
    virtual void Reserved3() {}                                                   // 3
    virtual int32_t GetVideoFormat() = 0;                                         // 4
    virtual const char* GetUserName() = 0;                                        // 5
    virtual const char* GetPassword() = 0;                                        // 6
};

// Argument 3 of Open: slot 1 description, 2 connection, 4 numbered parameters.
class IDeviceConfig {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual IDeviceDescription* GetDeviceDescription() = 0;                       // 1
    virtual IConnectionSettings* GetConnectionSettings() = 0;                     // 2
    virtual void Reserved3() {}                                                   // 3
    virtual const char* GetParameter(int32_t index) = 0;                          // 4
};

// Width (slot 1) and height (slot 2) of a picture.
class IPictureSize {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual uint16_t GetWidth() = 0;                                              // 1
    virtual uint16_t GetHeight() = 0;                                             // 2
};

// Picture part of a channel configuration: slot 3 gives the size.
class IPicturePart {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void Reserved1() {}                                                   // 1
    virtual void Reserved2() {}                                                   // 2
    virtual IPictureSize* GetPictureSize() = 0;                                   // 3
};

// Stream part: slot 1 frame interval, 3 quality, 4 companion wanted.
class IStreamPart {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual uint16_t GetFrameInterval() = 0;                                      // 1
    virtual void Reserved2() {}                                                   // 2
    virtual uint16_t GetQuality() = 0;                                            // 3
    virtual int32_t GetCompanionWanted() = 0;                                     // 4
};

// Argument 3 of StartChannel: slot 1 picture part, slot 2 stream part.
class IChannelConfig {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual IPicturePart* GetPicturePart() = 0;                                   // 1
    virtual IStreamPart* GetStreamPart() = 0;                                     // 2
};

// Argument 2 of StartChannel: slot 1 OnFrame, slot 3 OnStreamLost.
class IChannelCallback {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual bool OnFrame(IHostFrame* frame) = 0;                                  // 1
    virtual void Reserved2() {}                                                   // 2
    virtual void OnStreamLost() = 0;                                              // 3
};

// Digital I/O callback: slot 1 OnInputChanged, slot 2 OnIOFailure.
class IIOCallback {
public:
    virtual void* HostDestructor(unsigned flags) { (void)flags; return this; }  // 0
    virtual void OnInputChanged(uint32_t index, uint32_t state) = 0;              // 1
    virtual void OnIOFailure() = 0;                                               // 2
};

}  // namespace ipcapture
}  // namespace zentavo
