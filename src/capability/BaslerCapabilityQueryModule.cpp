#include "capability/BaslerCapabilityQueryModule.h"

#include <new>

#include "camera/BaslerCameraProperties.h"

namespace zentavo {

CBaseCameraProperties* CBaslerCapabilityQueryModule::CreateProperties() {
    return new (std::nothrow) CBaslerCameraProperties(m_videoStandard ? 1u : 0u, m_deviceInfo);
}

}  // namespace zentavo
