#include "streaming/UDPClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <iterator>
#include <mutex>
#include <stdexcept>

#include "streaming/LoopbackPeer.h"

using namespace zentavo;
using namespace halvencap_test;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

const milliseconds kGenerous(20000);

class RecordingUser : public IRTPClientUser {
public:
    void OnData(IRTPClient* client, const sockaddr_in& from, const uint8_t* data, uint32_t length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        datagrams.emplace_back(data, data + length);
        senders.push_back(from);
        m_changed.notify_all();
        if (throwOnData) throw std::runtime_error("user fault");
    }
    void OnTimeout(IRTPClient*) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        timeouts.push_back(steady_clock::now());
        m_changed.notify_all();
    }
    void OnClosed(IRTPClient*) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++closed;
        m_changed.notify_all();
    }
    bool WaitFor(const std::function<bool()>& condition, milliseconds bound = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, bound, condition);
    }
    std::mutex& Mutex() { return m_mutex; }

    std::vector<Bytes> datagrams;
    std::vector<sockaddr_in> senders;
    std::vector<steady_clock::time_point> timeouts;
    int closed = 0;
    bool throwOnData = false;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

class UDPClient : public ::testing::Test {
protected:
    WinsockSession winsock;
    RecordingUser user;
    CUDPClient client;
};

TEST_F(UDPClient, DatagramsOfAnySizeArriveWhole) {
    const uint16_t port = FreeUdpPort();
    ASSERT_TRUE(client.Open(&user, port));
    EXPECT_EQ(client.GetPort(), port);
    EXPECT_EQ(client.Name(), "UDP client thread, port " + std::to_string(port));
    LoopbackPeer camera;
    // Larger than the receive size (the default and the RTP receiver's),
    // up to the largest UDP payload.
    const size_t sizes[] = {9000, 4096, 4096, 4096, 1, 65507};
    for (size_t size : sizes) {
        Bytes d(size);
        for (size_t i = 0; i < size; ++i) d[i] = uint8_t(i * 7 + size);
        ASSERT_TRUE(camera.SendTo(port, d));
    }
    ASSERT_TRUE(user.WaitFor([&] { return user.datagrams.size() == std::size(sizes); }));
    std::lock_guard<std::mutex> lock(user.Mutex());
    for (size_t k = 0; k < std::size(sizes); ++k) {
        ASSERT_EQ(user.datagrams[k].size(), sizes[k]) << k;
        for (size_t i = 0; i < sizes[k]; ++i) ASSERT_EQ(user.datagrams[k][i], uint8_t(i * 7 + sizes[k]));
    }
    EXPECT_EQ(user.senders[0].sin_addr.s_addr, camera.Address());
    EXPECT_EQ(ntohs(user.senders[0].sin_port), camera.Port());
}

TEST_F(UDPClient, TimeoutsComeAtTheSetInterval) {
    ASSERT_TRUE(client.Open(&user, FreeUdpPort()));
    EXPECT_EQ(client.GetWaitTimeout(), 2000u);
    client.SetWaitTimeout(300);
    // The first wait may still have run with the default.
    ASSERT_TRUE(user.WaitFor([&] { return user.timeouts.size() >= 5; }));
    std::lock_guard<std::mutex> lock(user.Mutex());
    for (size_t i = 2; i < user.timeouts.size(); ++i) {
        const auto gap = std::chrono::duration_cast<milliseconds>(user.timeouts[i] - user.timeouts[i - 1]).count();
        EXPECT_GE(gap, 250) << i;
        EXPECT_LT(gap, 1500) << i;
    }
}

TEST_F(UDPClient, BadMulticastGroupFailsClosed) {
    for (const char* group : {"abc", "", "255.255.255.255"}) {
        EXPECT_FALSE(client.OpenMulticast(&user, group, FreeUdpPort())) << group;
        EXPECT_FALSE(client.IsOpen()) << group;
        EXPECT_EQ(client.GetPort(), 0) << group;
        EXPECT_FALSE(client.IsRunning()) << group;
    }
    EXPECT_FALSE(client.OpenMulticast(&user, nullptr, FreeUdpPort()));
    EXPECT_FALSE(client.Open(nullptr, FreeUdpPort()));
    EXPECT_EQ(user.closed, 0);
    // Still usable afterwards.
    EXPECT_TRUE(client.Open(&user, FreeUdpPort()));
}

TEST_F(UDPClient, CloseTwiceTellsTheUserOnce) {
    ASSERT_TRUE(client.Open(&user, FreeUdpPort()));
    EXPECT_TRUE(client.Close());
    EXPECT_EQ(user.closed, 1);
    EXPECT_FALSE(client.IsRunning());
    const auto start = steady_clock::now();
    EXPECT_TRUE(client.Close());
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count(), 1000);
    EXPECT_EQ(user.closed, 1);
    EXPECT_EQ(client.GetPort(), 0);
}

TEST_F(UDPClient, PortInUseFailsOpen) {
    const uint16_t port = FreeUdpPort();
    {
        LoopbackPeer squatter("0.0.0.0", port);
        ASSERT_TRUE(squatter.Ok());
        EXPECT_FALSE(client.Open(&user, port));
        EXPECT_FALSE(client.IsOpen());
        EXPECT_FALSE(client.IsRunning());
        EXPECT_EQ(user.closed, 0);
    }
    EXPECT_TRUE(client.Open(&user, port));
}

TEST_F(UDPClient, SendReachesThePeerAndFailsWhenClosed) {
    LoopbackPeer camera;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = camera.Address();
    to.sin_port = htons(camera.Port());
    const Bytes report = {0x81, 201, 0, 1, 9, 8, 7, 6};
    EXPECT_FALSE(client.Send(uint32_t(report.size()), to, report.data()));
    ASSERT_TRUE(client.Open(&user, FreeUdpPort()));
    EXPECT_TRUE(client.Send(uint32_t(report.size()), to, report.data()));
    Bytes got;
    ASSERT_TRUE(camera.Receive(got, 20000));
    EXPECT_EQ(got, report);
    client.Close();
    EXPECT_FALSE(client.Send(uint32_t(report.size()), to, report.data()));
}

TEST_F(UDPClient, UserFaultsAreContainedAndNothingComesAfterClose) {
    const uint16_t port = FreeUdpPort();
    ASSERT_TRUE(client.Open(&user, port));
    user.throwOnData = true;
    LoopbackPeer camera;
    for (uint8_t i = 0; i < 3; ++i) camera.SendTo(port, Bytes{i});
    ASSERT_TRUE(user.WaitFor([&] { return user.datagrams.size() == 3; }));
    client.Close();
    size_t seen;
    {
        std::lock_guard<std::mutex> lock(user.Mutex());
        seen = user.datagrams.size() + user.timeouts.size();
    }
    camera.SendTo(port, Bytes{9});
    camera.ReceiveAllPending();
    std::lock_guard<std::mutex> lock(user.Mutex());
    EXPECT_EQ(user.datagrams.size() + user.timeouts.size(), seen);
}

}  // namespace
