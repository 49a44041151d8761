// The driver layer for this camera family: how the device is opened, the
// digital I/O object and the kind of channel for each video format.
#pragma once

#include "host/IPCaptureDriver.h"

namespace zentavo {

enum VideoFormat : int32_t {
    VIDEO_FORMAT_MJPEG_HTTP = 1,
    VIDEO_FORMAT_MPEG4_RTSP = 2,
    VIDEO_FORMAT_H264_RTSP = 3,
};

class CHalvencapDriver : public CIPCaptureDriver {
public:
    CHalvencapDriver() = default;
    ~CHalvencapDriver() override;

    bool OpenDevice(ipcapture::IDeviceConfig* config) override;
    bool PrepareDevice() override { return true; }
    bool CreateIO() override;

    std::string GetDriverName() override { return "Halvencap"; }

    ICameraChannel* CreateChannel(uint32_t channelIndex,
                                  ipcapture::IChannelCallback* callback) override;
    IChannelCompanion* CreateCompanion(uint32_t, ipcapture::IChannelCallback*) override {
        return nullptr;
    }
};

}  // namespace zentavo
