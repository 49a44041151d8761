#include "channels/ChannelFactory.h"

#include <new>

#include "channels/MJPEGChannelHTTP.h"

namespace zentavo {

ICameraChannel* CreateCameraChannel(int32_t videoFormat, uint32_t channelIndex, IDriver* driver,
                                    ipcapture::IChannelCallback* callback) {
    switch (videoFormat) {
        case 1:
            return new (std::nothrow) CMJPEGChannelHTTP(channelIndex, driver, callback);
        default:
            return nullptr;
    }
}

}  // namespace zentavo
