// Host name resolution on Winsock. Callers may resolve before any channel has
// started Winsock, so the lookup holds its own (reference-counted) start-up.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

class CWinsockScope {
public:
    CWinsockScope() { m_started = WSAStartup(MAKEWORD(2, 2), &m_data) == 0; }
    ~CWinsockScope() {
        if (m_started) WSACleanup();
    }
    CWinsockScope(const CWinsockScope&) = delete;
    CWinsockScope& operator=(const CWinsockScope&) = delete;
    bool Started() const { return m_started; }

private:
    WSADATA m_data;
    bool m_started = false;
};

class CAddressList {
public:
    explicit CAddressList(addrinfo* list) : m_list(list) {}
    ~CAddressList() {
        if (m_list != nullptr) freeaddrinfo(m_list);
    }
    CAddressList(const CAddressList&) = delete;
    CAddressList& operator=(const CAddressList&) = delete;
    const addrinfo* Get() const { return m_list; }

private:
    addrinfo* m_list;
};

}  // namespace

uint32_t ResolveHost(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return 0;
    CWinsockScope winsock;
    if (!winsock.Started()) return 0;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return 0;
    CAddressList list(found);
    for (const addrinfo* a = list.Get(); a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr &&
            a->ai_addrlen >= sizeof(sockaddr_in)) {
            return reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        }
    }
    return 0;
}


}  // namespace zentavo
