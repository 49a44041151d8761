// One UDP socket bound to a local port (optionally a member of an IPv4
// multicast group) and the thread that hands every datagram to its user.
// Winsock must have been started by the owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/BaseThread.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"
#include "streaming/IRTPClient.h"

namespace zentavo {

class CUDPClient : public CBaseThread, public IRTPClient {
public:
    // Larger than any UDP payload, so no datagram is ever cut or lost.
    static constexpr uint32_t RECEIVE_BUFFER_SIZE = 65535;
    static constexpr uint32_t DEFAULT_RECEIVE_SIZE = 8192;
    static constexpr uint32_t DEFAULT_WAIT_TIMEOUT_MS = 2000;

    explicit CUDPClient(IDebugMessage* driver = nullptr);
    ~CUDPClient() override;

    bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) override;
    bool Open(IRTPClientUser* user, uint16_t port) override;
    // Stops the thread first, so the user hears nothing more from it; then
    // closes the socket and tells the user once. A closed client only joins.
    bool Close() override;
    // The receive size is advisory: every receive uses the whole buffer.
    void SetReceiveSize(uint32_t bytes) override;
    void SetWaitTimeout(uint32_t ms) override;
    uint16_t GetPort() override;

    // Sends one datagram; false when closed or when the socket refuses it.
    bool Send(uint32_t length, const sockaddr_in& to, const uint8_t* data);
    bool IsOpen();
    // The last Open failed only because another socket has the port; any
    // other failure (no socket, no thread, no memory) is the process's.
    bool PortTaken() const { return m_portTaken; }
    uint32_t GetReceiveSize() const { return m_receiveSize.load(); }
    uint32_t GetWaitTimeout() const { return m_waitTimeoutMs.load(); }

    void Run() override;

private:
    enum WAIT_RESULT { WAIT_READABLE, WAIT_END };

    bool OpenGroup(IRTPClientUser* user, uint32_t group, uint16_t port);
    bool CreateSocket(uint32_t group, uint16_t port);
    void LogOpenFailure(const char* resource, uint16_t port, unsigned long error);
    WAIT_RESULT WaitForData(SOCKET socket);
    bool Stopping();
    void NotifyClosed();

    CRecursiveLock m_lock;
    IRTPClientUser* m_user;
    SOCKET m_socket;             // INVALID_SOCKET when closed
    SOCKET m_threadSocket;       // the socket the current run reads
    uint16_t m_port;
    uint32_t m_group;            // network order; INADDR_NONE when none joined
    uint32_t m_stopWaitMs;
    std::atomic<uint32_t> m_receiveSize;
    std::atomic<uint32_t> m_waitTimeoutMs;
    // Mirrors the stop event where it is read per datagram, which costs
    // nothing, unlike a wait on the event.
    std::atomic<bool> m_stopping;
    bool m_portTaken = false;
    CEvent m_readableEvent;      // network events of the open socket
    std::vector<uint8_t> m_buffer;
};

}  // namespace zentavo
