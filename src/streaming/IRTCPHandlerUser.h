// Told when the stream's sender said goodbye (RTCP BYE), on the RTCP
// socket's thread.
#pragma once

namespace zentavo {

class IRTCPHandlerUser {
public:
    virtual ~IRTCPHandlerUser() = default;
    virtual void OnRTCPBye() = 0;
};

}  // namespace zentavo
