#include "streaming/LoopbackPeer.h"

#include <tlhelp32.h>
#include <ws2tcpip.h>

namespace halvencap_test {

namespace {
const Bytes kMarker = {'e', 'n', 'd', ' ', 'o', 'f', ' ', 't', 'e', 's', 't'};
}

WinsockSession::WinsockSession() {
    WSADATA data;
    m_ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockSession::~WinsockSession() {
    if (m_ok) WSACleanup();
}

LoopbackPeer::LoopbackPeer(const char* address, uint16_t port)
    : m_socket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)), m_address(inet_addr(address)), m_port(0) {
    if (m_socket == INVALID_SOCKET) return;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = m_address;
    local.sin_port = htons(port);
    int length = sizeof local;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        return;
    }
    m_port = ntohs(local.sin_port);
    int buffer = 4 * 1024 * 1024;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
}

LoopbackPeer::~LoopbackPeer() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
}

bool LoopbackPeer::SendTo(uint16_t port, const Bytes& datagram) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = htons(port);
    return sendto(m_socket, reinterpret_cast<const char*>(datagram.data()), int(datagram.size()), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == int(datagram.size());
}

bool LoopbackPeer::Receive(Bytes& datagram, unsigned ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_socket, &readable);
    timeval timeout = {long(ms / 1000), long((ms % 1000) * 1000)};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
    datagram.resize(65536);
    const int n = recv(m_socket, reinterpret_cast<char*>(datagram.data()), int(datagram.size()), 0);
    if (n < 0) return false;
    datagram.resize(size_t(n));
    return true;
}

std::vector<Bytes> LoopbackPeer::ReceiveAllPending(unsigned ms) {
    sockaddr_in self = {};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = m_address;
    self.sin_port = htons(m_port);
    sendto(m_socket, reinterpret_cast<const char*>(kMarker.data()), int(kMarker.size()), 0,
           reinterpret_cast<const sockaddr*>(&self), sizeof self);
    std::vector<Bytes> received;
    Bytes datagram;
    while (Receive(datagram, ms) && datagram != kMarker) received.push_back(datagram);
    return received;
}

uint16_t FreeUdpPort(bool pair) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        LoopbackPeer first("0.0.0.0");
        if (!first.Ok()) continue;
        uint16_t port = first.Port();
        if (!pair) return port;
        if (port % 2) continue;
        LoopbackPeer second("0.0.0.0", uint16_t(port + 1));
        if (second.Ok()) return port;
    }
    return 0;
}

unsigned ProcessThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    unsigned count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return count;
}

bool PollUntil(const std::function<bool()>& condition, unsigned bound) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > bound) return condition();
        Sleep(5);
    }
}

Bytes RtpDatagram(uint16_t sequence, uint32_t timestamp, size_t payload, uint8_t first) {
    Bytes d = {first, 96, uint8_t(sequence >> 8), uint8_t(sequence), uint8_t(timestamp >> 24),
               uint8_t(timestamp >> 16), uint8_t(timestamp >> 8), uint8_t(timestamp), 1, 2, 3, 4};
    for (size_t i = 0; i < payload; ++i) d.push_back(uint8_t(i));
    return d;
}

}  // namespace halvencap_test
