// The driver's services face, handed to every internal component (channels,
// I/O, parsers, properties). The interfaces follow the host's vtable
// convention (slot 0 = deleting destructor taking flags) because the driver
// object that implements them is also the object the host holds.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "host/DeviceInfo.h"
#include "runtime/DebugMessage.h"

namespace zentavo {

class IDriver : public IDebugMessage {
public:
    virtual std::string GetDriverName() = 0;                                // 3
    virtual std::string GetHostDirectory() = 0;                             // 4
    virtual DEVICE_INFO* GetDeviceInfo() = 0;                               // 5
    virtual std::pair<uint32_t, uint32_t> GetIOCounts() = 0;                // 6
    virtual void* GetHostContext() = 0;                                     // 7
    virtual int32_t GetModeParameter() = 0;                                 // 8
    virtual int32_t GetVideoFormat() = 0;                                   // 9
    virtual uint32_t GetChannelCount() = 0;                                 // 10
    virtual std::string GetParamString(int key) = 0;                        // 11
    virtual int32_t GetParamInt(int key) = 0;                               // 12
};

}  // namespace zentavo
