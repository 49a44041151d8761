// What the RTP receiver hands on: every parsed packet in arrival order (on
// the receiver's packet queue thread), silence and closing of its socket (on
// the socket's thread).
#pragma once

#include "streaming/IRTPClient.h"

namespace zentavo {

class CRTPPacket;

class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    // from: the sender's address; the packet is valid only during the call.
    virtual void OnRTPPacket(const sockaddr_in& from, CRTPPacket& packet) = 0;
    virtual void OnTimeout() = 0;
    virtual void OnClosed() = 0;
};

}  // namespace zentavo
