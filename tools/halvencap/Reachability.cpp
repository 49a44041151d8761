#include "Reachability.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace zentavo {
namespace cli {

namespace {

class WinsockSession {
public:
    WinsockSession() { m_ok = WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~WinsockSession() {
        if (m_ok) WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool Ok() const { return m_ok; }

private:
    WSADATA m_data{};
    bool m_ok = false;
};

class Socket {
public:
    explicit Socket(SOCKET s) : m_socket(s) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

struct AddressList {
    addrinfo* head = nullptr;
    ~AddressList() {
        if (head != nullptr) freeaddrinfo(head);
    }
};

std::string Describe(int code) {
    switch (code) {
        case WSAECONNREFUSED: return "connection refused";
        case WSAETIMEDOUT: return "no answer (timed out)";
        case WSAEHOSTUNREACH: return "host unreachable";
        case WSAENETUNREACH: return "network unreachable";
        default: return "socket error " + std::to_string(code);
    }
}

// One connection attempt; 0 on success, else a Winsock error code.
int TryConnect(const addrinfo& ai, unsigned timeoutMs) {
    Socket s(socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol));
    if (s.Get() == INVALID_SOCKET) return WSAGetLastError();
    u_long nonBlocking = 1;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    if (connect(s.Get(), ai.ai_addr, static_cast<int>(ai.ai_addrlen)) == 0) return 0;
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK) return started;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s.Get(), &writable);
    FD_SET(s.Get(), &failed);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int ready = select(0, nullptr, &writable, &failed, &tv);
    if (ready == 0) return WSAETIMEDOUT;
    if (ready == SOCKET_ERROR) return WSAGetLastError();
    int code = 0;
    int len = sizeof code;
    if (getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &len) != 0) return WSAGetLastError();
    if (FD_ISSET(s.Get(), &failed) && code == 0) code = WSAECONNREFUSED;
    return code;
}

}  // namespace

bool CheckReachable(const std::string& address, uint16_t port, unsigned timeoutMs, std::string& error) {
    WinsockSession session;
    if (!session.Ok()) {
        error = "Windows Sockets could not be started";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    AddressList list;
    const std::string service = std::to_string(port);
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &list.head) != 0 || list.head == nullptr) {
        error = "cannot resolve " + address;
        return false;
    }
    int last = WSAETIMEDOUT;
    for (const addrinfo* ai = list.head; ai != nullptr; ai = ai->ai_next) {
        last = TryConnect(*ai, timeoutMs);
        if (last == 0) return true;
    }
    error = Describe(last);
    return false;
}

}  // namespace cli
}  // namespace zentavo
