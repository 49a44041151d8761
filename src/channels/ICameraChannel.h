// One video stream of one device, as the video capture object drives it.
#pragma once

#include <cstdint>

#include "channels/StreamSettings.h"
#include "host/HostContract.h"

namespace zentavo {

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const STREAM_SETTINGS& settings) = 0;
    virtual void Stop() = 0;
    virtual bool Restart(const STREAM_SETTINGS& settings) = 0;
    virtual bool GetOptionA() { return false; }
    virtual bool GetOptionB() { return false; }
    virtual int32_t GetState() = 0;
};

// An optional object started beside a channel; this driver never makes one.
class IChannelCompanion {
public:
    virtual ~IChannelCompanion() = default;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
};

// The driver's face given to the video capture object.
class IVideoChannelCreator {
public:
    virtual void* DeletingDestructor(unsigned flags) = 0;                              // 0
    virtual ICameraChannel* CreateChannel(uint32_t channelIndex,
                                          ipcapture::IChannelCallback* callback) = 0;   // 1
    virtual IChannelCompanion* CreateCompanion(uint32_t channelIndex,
                                               ipcapture::IChannelCallback* callback) = 0;  // 2
};

}  // namespace zentavo
