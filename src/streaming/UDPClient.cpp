#include "streaming/UDPClient.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "runtime/SystemErrorText.h"

namespace zentavo {

namespace {

const int SOCKET_BUFFER_BYTES = 65535;
const DWORD RECEIVE_TIMEOUT_MS = 5000;
const DWORD SEND_TIMEOUT_MS = 1000;
const unsigned MIN_JOIN_MS = 5000;
const unsigned DRAIN_DATAGRAMS = 100;
const int DRAIN_READ_BYTES = 1500;
// While datagrams keep coming the loop never waits, so it looks at the stop
// event itself now and then, for stops that bypass Close.
const unsigned STOP_EVENT_CHECK_INTERVAL = 64;

}  // namespace

CUDPClient::CUDPClient(IDebugMessage* driver)
    : CBaseThread(driver),
      m_user(nullptr),
      m_socket(INVALID_SOCKET),
      m_threadSocket(INVALID_SOCKET),
      m_port(0),
      m_group(INADDR_NONE),
      m_stopWaitMs(0),
      m_receiveSize(DEFAULT_RECEIVE_SIZE),
      m_waitTimeoutMs(DEFAULT_WAIT_TIMEOUT_MS),
      m_stopping(false),
      m_readableEvent(false) {}

CUDPClient::~CUDPClient() { Close(); }

bool CUDPClient::OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port) {
    const uint32_t address = (group && *group) ? inet_addr(group) : INADDR_NONE;
    if (address == INADDR_NONE) {
        Close();
        return false;
    }
    return OpenGroup(user, address, port);
}

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) { return OpenGroup(user, INADDR_NONE, port); }

bool CUDPClient::OpenGroup(IRTPClientUser* user, uint32_t group, uint16_t port) {
    if (user == nullptr) {
        Close();
        return false;
    }
    bool opened = false;
    m_portTaken = false;
    {
        CLockGuard guard(m_lock);
        m_user = user;
        if (CreateSocket(group, port)) {
            bool buffered = true;
            try {
                if (m_buffer.empty()) m_buffer.resize(RECEIVE_BUFFER_SIZE);
            } catch (const std::bad_alloc&) {
                buffered = false;
                LogOpenFailure("a receive buffer", port, ERROR_NOT_ENOUGH_MEMORY);
            }
            if (buffered) {
                m_threadSocket = m_socket;
                m_stopping = false;
                char name[64];
                std::snprintf(name, sizeof name, "UDP client thread, port %u", unsigned(port));
                opened = StartThread(name);
            }
        }
    }
    if (!opened) Close();
    return opened;
}

void CUDPClient::LogOpenFailure(const char* resource, uint16_t port, unsigned long error) {
    if (m_driver == nullptr) return;
    try {
        m_driver->Message(LOG_ERROR, "%s: could not open %s for UDP port %u of device %s: %s",
                          "zentavo::CUDPClient::Open", resource, unsigned(port), m_driver->GetDeviceName().c_str(),
                          SystemErrorText(error).c_str());
    } catch (...) {
    }
}

bool CUDPClient::CreateSocket(uint32_t group, uint16_t port) {
    if (m_socket != INVALID_SOCKET) return false;
    if (m_readableEvent.Handle() == nullptr) {
        LogOpenFailure("an event", port, m_readableEvent.CreateError());
        return false;
    }
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        LogOpenFailure("a socket", port, static_cast<unsigned long>(WSAGetLastError()));
        return false;
    }

    bool ok = true;
    if (group != INADDR_NONE) {
        const BOOL reuse = TRUE;
        ok = setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) == 0;
    }
    const int receiveBuffer = SOCKET_BUFFER_BYTES;
    ok = ok && setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                          sizeof receiveBuffer) == 0;
    const DWORD receiveTimeout = RECEIVE_TIMEOUT_MS;
    const DWORD sendTimeout = SEND_TIMEOUT_MS;
    ok = ok && setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveTimeout),
                          sizeof receiveTimeout) == 0;
    ok = ok && setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
                          sizeof sendTimeout) == 0;
    if (ok) {
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(port);
        ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
        // Someone else's port is what a search for a free pair expects to
        // meet; it is not worth a line.
        if (!ok) {
            const int error = WSAGetLastError();
            m_portTaken = error == WSAEADDRINUSE || error == WSAEACCES;
            if (!m_portTaken) LogOpenFailure("a socket", port, static_cast<unsigned long>(error));
        }
    }
    // The receive thread waits on the socket's events together with the
    // stop event, so a stop never waits for the time-out to run out.
    ok = ok && WSAEventSelect(s, m_readableEvent.Handle(), FD_READ | FD_CLOSE) == 0;
    if (!ok) {
        closesocket(s);
        return false;
    }
    m_socket = s;
    m_port = port;
    m_stopWaitMs = std::max(RECEIVE_TIMEOUT_MS, SEND_TIMEOUT_MS);
    if (group != INADDR_NONE) {
        ip_mreq membership = {};
        membership.imr_multiaddr.s_addr = group;
        membership.imr_interface.s_addr = htonl(INADDR_ANY);
        if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                       sizeof membership) != 0) {
            return false;  // the socket stays for Close to release
        }
        m_group = group;
    }
    return true;
}

bool CUDPClient::Close() {
    m_stopping = true;
    m_stopEvent.Set();
    SOCKET closing = INVALID_SOCKET;
    unsigned joinMs;
    {
        CLockGuard guard(m_lock);
        if (m_socket != INVALID_SOCKET) {
            if (m_group != INADDR_NONE) {
                ip_mreq membership = {};
                membership.imr_multiaddr.s_addr = m_group;
                membership.imr_interface.s_addr = htonl(INADDR_ANY);
                setsockopt(m_socket, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                           sizeof membership);
                m_group = INADDR_NONE;
            }
            shutdown(m_socket, SD_BOTH);
            closing = m_socket;
            m_socket = INVALID_SOCKET;
            m_port = 0;
        }
        const unsigned waitMs = (m_waitTimeoutMs.load() / 1000) * 1000;
        joinMs = std::max(MIN_JOIN_MS, std::max<unsigned>(m_stopWaitMs, waitMs) + 1000);
    }
    const bool joined = JoinThread(joinMs);
    if (closing != INVALID_SOCKET) {
        char scratch[DRAIN_READ_BYTES];
        for (unsigned i = 0; i < DRAIN_DATAGRAMS; ++i) {
            if (recv(closing, scratch, sizeof scratch, 0) <= 0) break;
        }
        closesocket(closing);
        NotifyClosed();
    }
    return joined;
}

void CUDPClient::NotifyClosed() {
    IRTPClientUser* user = m_user;
    if (user == nullptr) return;
    try {
        user->OnClosed(this);
    } catch (...) {
    }
}

void CUDPClient::SetReceiveSize(uint32_t bytes) {
    m_receiveSize = std::min<uint32_t>(bytes, RECEIVE_BUFFER_SIZE);
}

void CUDPClient::SetWaitTimeout(uint32_t ms) { m_waitTimeoutMs = ms; }

uint16_t CUDPClient::GetPort() {
    CLockGuard guard(m_lock);
    return m_port;
}

bool CUDPClient::IsOpen() {
    CLockGuard guard(m_lock);
    return m_socket != INVALID_SOCKET;
}

bool CUDPClient::Send(uint32_t length, const sockaddr_in& to, const uint8_t* data) {
    // Held across the send so that Close cannot release the socket under it.
    CLockGuard guard(m_lock);
    if (m_socket == INVALID_SOCKET || (data == nullptr && length != 0)) return false;
    uint32_t sent = 0;
    while (sent < length) {
        const int n = sendto(m_socket, reinterpret_cast<const char*>(data + sent), int(length - sent), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n <= 0) return false;
        sent += uint32_t(n);
    }
    return true;
}

bool CUDPClient::Stopping() { return m_stopping.load(std::memory_order_relaxed); }

CUDPClient::WAIT_RESULT CUDPClient::WaitForData(SOCKET socket) {
    const HANDLE handles[2] = {m_stopEvent.Handle(), m_readableEvent.Handle()};
    while (!Stopping()) {
        const DWORD result = WaitForMultipleObjects(2, handles, FALSE, m_waitTimeoutMs.load());
        if (result == WAIT_OBJECT_0 + 1) return Stopping() ? WAIT_END : WAIT_READABLE;
        if (result == WAIT_OBJECT_0) return WAIT_END;
        if (result == WAIT_TIMEOUT) {
            IRTPClientUser* user = m_user;
            if (user != nullptr && !Stopping()) {
                try {
                    user->OnTimeout(this);
                } catch (...) {
                }
            }
            continue;
        }
        // The wait itself failed: nothing more can be received.
        if (!Stopping()) NotifyClosed();
        return WAIT_END;
    }
    return WAIT_END;
}

void CUDPClient::Run() {
    SOCKET socket;
    {
        CLockGuard guard(m_lock);
        socket = m_threadSocket;
    }
    if (socket == INVALID_SOCKET || m_buffer.size() < RECEIVE_BUFFER_SIZE) return;
    char* buffer = reinterpret_cast<char*>(m_buffer.data());
    unsigned sinceStopCheck = 0;
    // The socket is non-blocking (event selected): drain what is there,
    // wait only when nothing is.
    while (!Stopping()) {
        sockaddr_in from = {};
        int fromLength = sizeof from;
        const int n = recvfrom(socket, buffer, int(RECEIVE_BUFFER_SIZE), 0, reinterpret_cast<sockaddr*>(&from),
                               &fromLength);
        if (n > 0) {
            if (++sinceStopCheck >= STOP_EVENT_CHECK_INTERVAL) {
                sinceStopCheck = 0;
                if (m_stopEvent.Wait(0)) break;
            }
            IRTPClientUser* user = m_user;
            if (user != nullptr && !Stopping()) {
                try {
                    user->OnData(this, from, m_buffer.data(), uint32_t(n));
                } catch (...) {
                }
            }
            continue;
        }
        if (n == 0) continue;  // an empty datagram carries nothing
        switch (WSAGetLastError()) {
            case WSAEWOULDBLOCK:
                sinceStopCheck = 0;
                if (WaitForData(socket) == WAIT_END) return;
                break;
            case WSAECONNRESET:  // an earlier send met a closed port
            case WSAEMSGSIZE:
                break;
            case WSAEFAULT:
            case WSAENETDOWN:
            case WSANOTINITIALISED:
                if (!Stopping()) NotifyClosed();
                return;
            case WSAEINVAL:
            case WSAENOTSOCK:
            case WSAESHUTDOWN:
            case WSAEINTR:
                return;
            default:
                if (WaitForData(socket) == WAIT_END) return;
                break;
        }
    }
}

}  // namespace zentavo
