// The host's handle on the video channels of one opened device: a fixed
// table with one entry per channel index.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "channels/ICameraChannel.h"
#include "host/DriverInterfaces.h"
#include "runtime/RecursiveLock.h"

namespace zentavo {

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
public:
    CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount);
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    void* DeletingDestructor(unsigned flags) override;
    uint32_t GetChannelCount() override;
    bool StartChannel(uint32_t index, ipcapture::IChannelCallback* callback,
                      ipcapture::IChannelConfig* config) override;
    bool StopChannel(uint32_t index) override;
    bool ChangeChannel(uint32_t index, ipcapture::IPictureSize* size,
                       uint32_t frameIntervalMs) override;
    int32_t GetReservedF() override { return 0; }
    bool GetChannelState(uint32_t index, int32_t* state, int32_t* errorCode, char* text,
                         uint32_t textSize) override;
    bool GetReservedG(uint32_t, uint32_t, uint32_t) override { return false; }
    bool GetReservedH(uint32_t, uint32_t, uint32_t) override { return false; }
    bool GetChannelOptionB(uint32_t index) override;
    bool GetChannelOptionA(uint32_t index) override;

    virtual ~CIPVideoCapture();

private:
    bool StartChannelEntry(uint32_t index, ipcapture::IChannelCallback* callback,
                           ipcapture::IChannelConfig* config);
    ICameraChannel* FindChannel(uint32_t index);

    IVideoChannelCreator* m_creator;
    CRecursiveLock m_lock;
    std::vector<std::pair<ICameraChannel*, IChannelCompanion*>> m_channels;
};

}  // namespace zentavo
