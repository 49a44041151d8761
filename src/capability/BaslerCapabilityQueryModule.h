// The capability query for this camera family.
#pragma once

#include "capability/CapabilityQueryModule.h"

namespace zentavo {

class CBaslerCapabilityQueryModule : public CCapabilityQueryModule {
public:
    using CCapabilityQueryModule::CCapabilityQueryModule;

    CBaseCameraProperties* CreateProperties() override;
};

}  // namespace zentavo
