// Told when the camera ends its stream with an RTCP BYE.
#pragma once

namespace zentavo {

class IRTCPHandlerUser {
public:
    virtual ~IRTCPHandlerUser() = default;
    virtual void OnRTCPBye() = 0;
};

}  // namespace zentavo
