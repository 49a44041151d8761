// Host-facing interface levels of the driver and of its video capture object.
// The host calls these slot by slot, compiled with MSVC: slot 0 is the MSVC
// deleting destructor (one slot, flags bit 0 = free), so no C++ virtual
// destructor may be declared before the listed operations.
#pragma once

#include <cstdint>

#include "host/HostContract.h"

namespace zentavo {

class ICaptureIOApi;

namespace ipcapture {

class IIPVideoCapture {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                               // 0
    virtual uint32_t GetChannelCount() = 0;                                              // 1
    virtual bool StartChannel(uint32_t index, IChannelCallback* callback,
                              IChannelConfig* config) = 0;                               // 2
    virtual bool StopChannel(uint32_t index) = 0;                                        // 3
    virtual bool ChangeChannel(uint32_t index, IPictureSize* size,
                               uint32_t frameIntervalMs) = 0;                            // 4
    virtual int32_t GetReservedF() = 0;                                                  // 5
    virtual bool GetChannelState(uint32_t index, int32_t* state, int32_t* errorCode,
                                 char* text, uint32_t textSize) = 0;                     // 6
    virtual bool GetReservedG(uint32_t a, uint32_t b, uint32_t c) = 0;                   // 7
    virtual bool GetReservedH(uint32_t a, uint32_t b, uint32_t c) = 0;                   // 8
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    virtual bool GetChannelOptionB(uint32_t index) = 0;                                  // 9
    virtual bool GetChannelOptionA(uint32_t index) = 0;                                  // 10
};

class IIPCaptureDriver {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                               // 0
    virtual bool Open(IDebugSink* sink, void* frameFactory, IDeviceConfig* config) = 0; // 1
    virtual void Close() = 0;                                                            // 2
    virtual IIPVideoCapture* GetVideoCapture() = 0;                                      // 3
    virtual ICaptureIOApi* GetIOApi() = 0;                                               // 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual int32_t GetReservedA() = 0;                                                  // 5
    virtual void* GetAuxObject() = 0;                                                    // 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual int32_t GetReservedB() = 0;                                                  // 7
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;                                  // 8
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    virtual void* GetAuxObjectEx() = 0;                                                  // 9
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
public:
    virtual int32_t GetReservedC() = 0;                                                  // 10
    virtual int32_t GetReservedD() = 0;                                                  // 11
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4 {
public:
    virtual int32_t GetReservedE() = 0;                                                  // 12
};

}  // namespace ipcapture
}  // namespace zentavo
