// A datagram socket bound to a local port with its own receive thread, as
// the RTP receiver and the RTCP handler see it, and the face its user
// implements to hear of datagrams, silence and closing.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include <cstdint>

namespace zentavo {

class IRTPClient;

class IRTPClientUser {
public:
    virtual ~IRTPClientUser() = default;
    // One datagram; data is valid only during the call.
    virtual void OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) = 0;
    // A wait for data ran out without a datagram.
    virtual void OnTimeout(IRTPClient* client) = 0;
    // The socket was closed or failed.
    virtual void OnClosed(IRTPClient* client) = 0;
};

class IRTPClient {
public:
    virtual ~IRTPClient() = default;
    // group: a dotted IPv4 multicast address.
    virtual bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) = 0;
    virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
    virtual bool Close() = 0;
    virtual void SetReceiveSize(uint32_t bytes) = 0;
    virtual void SetWaitTimeout(uint32_t ms) = 0;
    virtual uint16_t GetPort() = 0;
};

}  // namespace zentavo
