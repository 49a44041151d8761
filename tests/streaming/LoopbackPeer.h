// The far end of the transport tests: a UDP socket on a loopback address
// that sends datagrams to the client under test and reads what it answers,
// plus the few process facts the tests compare (free ports, thread count).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace halvencap_test {

using Bytes = std::vector<uint8_t>;

// Winsock for the life of the object.
class WinsockSession {
public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    bool m_ok;
};

class LoopbackPeer {
public:
    // address: a loopback address in dotted form, such as "127.0.0.2";
    // port 0 takes any free port.
    explicit LoopbackPeer(const char* address = "127.0.0.1", uint16_t port = 0);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool Ok() const { return m_socket != INVALID_SOCKET; }
    uint16_t Port() const { return m_port; }
    uint32_t Address() const { return m_address; }  // network order
    bool SendTo(uint16_t port, const Bytes& datagram);
    // Next datagram within ms; false on time-out.
    bool Receive(Bytes& datagram, unsigned ms);
    // Everything received before a marker datagram this peer sends to
    // itself, which loopback delivers behind whatever was sent earlier.
    std::vector<Bytes> ReceiveAllPending(unsigned ms = 20000);

private:
    SOCKET m_socket;
    uint32_t m_address;
    uint16_t m_port;
};

// A UDP port that was free a moment ago (even, with the next one free too,
// when pair is set).
uint16_t FreeUdpPort(bool pair = false);

// Threads of this process, from a Toolhelp snapshot.
unsigned ProcessThreadCount();

// Checks condition every few milliseconds until it holds or bound ms pass;
// for facts that change without telling anyone.
bool PollUntil(const std::function<bool()>& condition, unsigned bound = 30000);

// A version 2 RTP datagram: sequence, timestamp, payload bytes.
Bytes RtpDatagram(uint16_t sequence, uint32_t timestamp, size_t payload, uint8_t first = 0x80);

}  // namespace halvencap_test
