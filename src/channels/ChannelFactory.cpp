#include "channels/ChannelFactory.h"

#include <new>

namespace zentavo {

ICameraChannel* CreateCameraChannel(int32_t videoFormat, uint32_t channelIndex, IDriver* driver,
                                    ipcapture::IChannelCallback* callback) {
    (void)channelIndex;
    (void)driver;
    (void)callback;
    switch (videoFormat) {
        default:
            return nullptr;
    }
}

}  // namespace zentavo
