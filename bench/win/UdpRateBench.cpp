// Packets per second on loopback through the driver's RTP path (UDP client,
// parse, packet queue, delivery to a user that counts) against a plain
// Winsock receive loop, in the same run with the same sender.
// Usage: bench_UdpRateBench [seconds per run] [payload bytes]
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "streaming/RTPPacket.h"
#include "streaming/RTPReceiver.h"

namespace {

std::atomic<bool> g_sending{false};
std::atomic<uint64_t> g_received{0};

class CCountingUser : public zentavo::IRTPReceiverUser {
public:
    void OnRTPPacket(const sockaddr_in&, zentavo::CRTPPacket& packet) override {
        if (packet.PayloadLength()) g_received.fetch_add(1, std::memory_order_relaxed);
    }
    void OnTimeout() override {}
    void OnClosed() override {}
};

uint16_t FreePort() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    closesocket(s);
    return ntohs(a.sin_port);
}

// Sends as fast as the platform takes datagrams until told to stop.
void Sender(uint16_t port, size_t payload) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = htons(port);
    std::vector<char> d(12 + payload, 0x55);
    d[0] = char(0x80);
    d[1] = 96;
    for (uint32_t seq = 0; g_sending.load(); ++seq) {
        d[2] = char(seq >> 8);
        d[3] = char(seq);
        sendto(s, d.data(), int(d.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    closesocket(s);
}

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// Counts what arrives in a window after a short warm-up.
double Measure(uint16_t port, size_t payload, double seconds) {
    g_sending = true;
    std::thread sender(Sender, port, payload);
    Sleep(300);
    const uint64_t first = g_received.load();
    const double start = Now();
    Sleep(DWORD(seconds * 1000));
    const uint64_t last = g_received.load();
    const double elapsed = Now() - start;
    g_sending = false;
    sender.join();
    return double(last - first) / elapsed;
}

double PlainLoop(double seconds, size_t payload) {
    const uint16_t port = FreePort();
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int buffer = 65535;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    DWORD timeout = 200;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    std::atomic<bool> running{true};
    std::thread loop([&] {
        std::vector<char> b(65535);
        while (running.load()) {
            sockaddr_in from;
            int n = sizeof from;
            if (recvfrom(s, b.data(), int(b.size()), 0, reinterpret_cast<sockaddr*>(&from), &n) > 12)
                g_received.fetch_add(1, std::memory_order_relaxed);
        }
    });
    const double rate = Measure(port, payload, seconds);
    running = false;
    loop.join();
    closesocket(s);
    return rate;
}

double DriverPath(double seconds, size_t payload) {
    const uint16_t port = FreePort();
    CCountingUser user;
    zentavo::CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (!receiver.Start(port)) return 0;
    const double rate = Measure(port, payload, seconds);
    receiver.Stop();
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const size_t payload = argc > 2 ? size_t(std::atoi(argv[2])) : 1200;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
    double plain = 0, driver = 0;
    // Alternating runs, best of each, so a busy moment of the machine does
    // not decide the comparison.
    for (int round = 0; round < 2; ++round) {
        const double p = PlainLoop(seconds, payload);
        const double d = DriverPath(seconds, payload);
        std::printf("round %d: plain Winsock loop %.0f packets/s, driver path %.0f packets/s\n", round + 1, p, d);
        if (p > plain) plain = p;
        if (d > driver) driver = d;
    }
    std::printf("payload %zu bytes: plain %.0f packets/s, driver %.0f packets/s, ratio %.1f %%\n", payload, plain,
                driver, plain > 0 ? 100.0 * driver / plain : 0.0);
    WSACleanup();
    return 0;
}
