// Host-facing digital I/O interface; slot 0 is the MSVC deleting destructor.
#pragma once

#include <cstdint>

#include "host/HostContract.h"

namespace zentavo {

class ICaptureIOApi {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                   // 0
    virtual bool SetCallback(ipcapture::IIOCallback* callback) = 0;          // 1
    virtual bool StartIO() = 0;                                              // 2
    virtual bool StopIO() = 0;                                               // 3
    virtual uint32_t GetInputCount() = 0;                                    // 4
    virtual uint32_t GetOutputCount() = 0;                                   // 5
    virtual bool SetOutputState(uint32_t index, uint32_t state) = 0;         // 6
};

}  // namespace zentavo
