#include "channels/ChannelFactory.h"

#include <new>

#include "channels/H264ChannelRTSP.h"
#include "channels/MJPEGChannelHTTP.h"
#include "channels/MPEG4ChannelRTSP.h"

namespace zentavo {

ICameraChannel* CreateCameraChannel(int32_t videoFormat, uint32_t channelIndex, IDriver* driver,
                                    ipcapture::IChannelCallback* callback) {
    switch (videoFormat) {
        case 1:
            return new (std::nothrow) CMJPEGChannelHTTP(channelIndex, driver, callback);
        case 2:
            return new (std::nothrow) CMPEG4ChannelRTSP(channelIndex, driver, callback);
        case 3:
            return new (std::nothrow) CH264ChannelRTSP(channelIndex, driver, callback);
        default:
            return nullptr;
    }
}

}  // namespace zentavo
