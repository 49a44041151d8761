// The capability query's life through the shipped library: the process-wide
// plain functions, one probe per module, refusals before any traffic, and
// how a probe ends when the host terminates or destroys it while the camera
// (or the host's own result object) does not answer.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "capability/QueryExports.h"
#include "support/CamSim.h"
#include "support/CapabilityHost.h"
#include "support/DriverLibrary.h"

using namespace halvencap_test;
using namespace std::chrono_literals;
using zentavo::ipcapture::IIPCapabilityQuery;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kBound = 30s;
const char* const kInvalidAddress = "Failed to start capability fetching thread. Device address is invalid!";
const char* const kInternalError = "Failed to start capability fetching thread. Internal error occurs";

// Waits until the camera has received count requests.
bool WaitForRequests(const Camera& camera, size_t count) {
    const auto deadline = Clock::now() + kBound;
    while (Clock::now() < deadline) {
        if (camera.Log().size() >= count) return true;
        Sleep(20);
    }
    return false;
}

class CapabilityLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Loaded());
        ASSERT_TRUE(exports.Complete());
    }
    void TearDown() override { exports.uninit(); }

    std::optional<Camera> NewCamera() {
        if (!CamSim::Available()) return std::nullopt;
        return CamSim().NewCamera();
    }

    DriverLibrary library;
    QueryExports exports{library};
    TestCapabilityResults results;
    TestCapabilityCallback callback;
};

}  // namespace

TEST_F(CapabilityLifecycle, PlainFunctionsWithoutAModule) {
    exports.destroy(nullptr);
    EXPECT_EQ(exports.uninit(), 1);
    EXPECT_EQ(exports.terminate(), 1);
    EXPECT_EQ(exports.start("127.0.0.1", 80, "", "", &results), 0);

    EXPECT_EQ(exports.init(&callback, 1), 1);
    EXPECT_EQ(exports.init(&callback, 1), 0);
    EXPECT_EQ(exports.start("127.0.0.1", 80, "", nullptr, &results), 0);
    EXPECT_EQ(exports.start(nullptr, 80, "", "", &results), 0);
    EXPECT_EQ(exports.start("127.0.0.1", 80, nullptr, "", &results), 0);
    EXPECT_EQ(exports.terminate(), 1);
    EXPECT_EQ(exports.uninit(), 1);
    EXPECT_EQ(exports.init(&callback, 1), 1);
    EXPECT_EQ(exports.uninit(), 1);
    EXPECT_TRUE(callback.Outcomes().empty());
}

TEST_F(CapabilityLifecycle, AddressWithAPortIsRefusedWithoutTraffic) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    const std::string address = "127.0.0.1:" + std::to_string(camera->port);
    ASSERT_EQ(exports.init(&callback, 1), 1);
    ASSERT_EQ(exports.start(address.c_str(), camera->port, "", "", &results), 1);
    ASSERT_TRUE(callback.Wait(1, kBound));
    EXPECT_EQ(exports.uninit(), 1);
    const auto outcomes = callback.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CapabilityOutcome::Failed);
    EXPECT_EQ(outcomes[0].code, 0);
    EXPECT_EQ(outcomes[0].message, kInvalidAddress);
    EXPECT_TRUE(camera->Log().empty());
    EXPECT_TRUE(results.Trace().empty());
}

TEST_F(CapabilityLifecycle, EveryForbiddenCharacterAndTheAcceptedOnes) {
    // No camera needed: a refused address never leaves the probe thread,
    // and an accepted one reaches a port that refuses the connection.
    const uint16_t closed = ClosedPort();
    const std::string forbidden = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
    for (char c : forbidden) {
        SCOPED_TRACE(std::string("character ") + c);
        TestCapabilityCallback local;
        IIPCapabilityQuery* query = exports.create(&local, 0);
        ASSERT_NE(query, nullptr);
        const std::string address = std::string("cam") + c + "1";
        ASSERT_EQ(query->Start(address.c_str(), closed, "", "", &results), 1);
        ASSERT_TRUE(local.Wait(1, kBound));
        exports.destroy(query);
        EXPECT_EQ(local.Outcomes().at(0).code, 0);
    }
    TestCapabilityCallback local;
    IIPCapabilityQuery* query = exports.create(&local, 0);
    ASSERT_EQ(query->Start("127.0.0.1", closed, "", "", &results), 1);
    ASSERT_TRUE(local.Wait(1, kBound));
    exports.destroy(query);
    EXPECT_EQ(local.Outcomes().at(0).code, 3);
    EXPECT_EQ(local.Outcomes().at(0).message, "Failed to get camera properties");
    EXPECT_TRUE(results.Trace().empty());
}

TEST_F(CapabilityLifecycle, OneProbePerModule) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    IIPCapabilityQuery* query = exports.create(&callback, 1);
    ASSERT_NE(query, nullptr);
    // Refused arguments start nothing, and do not use up the module.
    EXPECT_EQ(query->Start("127.0.0.1", camera->port, "", nullptr, &results), 0);
    EXPECT_EQ(query->Start("127.0.0.1", camera->port, "", "", &results), 1);
    EXPECT_EQ(query->Start("127.0.0.1", camera->port, "", "", &results), 0);
    ASSERT_TRUE(callback.Wait(1, kBound));
    EXPECT_EQ(callback.Outcomes().at(0).kind, CapabilityOutcome::Completed);
    EXPECT_EQ(query->Start("127.0.0.1", camera->port, "", "", &results), 0);
    exports.destroy(query);
    EXPECT_EQ(callback.Outcomes().size(), 1u);
}

TEST_F(CapabilityLifecycle, NullResultsIsAnInternalError) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    ASSERT_EQ(exports.init(&callback, 1), 1);
    ASSERT_EQ(exports.start("127.0.0.1", camera->port, "", "", nullptr), 1);
    ASSERT_TRUE(callback.Wait(1, kBound));
    EXPECT_EQ(exports.uninit(), 1);
    const auto outcome = callback.Outcomes().at(0);
    EXPECT_EQ(outcome.kind, CapabilityOutcome::Failed);
    EXPECT_EQ(outcome.code, 3);
    EXPECT_EQ(outcome.message, kInternalError);
    EXPECT_TRUE(camera->Log().empty());
}

TEST_F(CapabilityLifecycle, TerminateDuringTheLoginCheck) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_EQ(exports.init(&callback, 1), 1);
    ASSERT_EQ(exports.start("127.0.0.1", camera->port, "", "", &results), 1);
    ASSERT_TRUE(WaitForRequests(*camera, 1));
    EXPECT_EQ(exports.terminate(), 1);
    ASSERT_TRUE(callback.Wait(1, kBound));
    camera->Set("hang=0");
    EXPECT_EQ(exports.uninit(), 1);
    const auto outcomes = callback.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CapabilityOutcome::Failed);
    EXPECT_EQ(outcomes[0].code, 3);
    EXPECT_EQ(outcomes[0].message, "Failed to get camera properties");
    EXPECT_EQ(camera->Log(), std::vector<std::string>{"GET /cgi-bin/auth_if.cgi?Status auth=-"});
}

TEST_F(CapabilityLifecycle, UninitWhileTheCameraHangsEndsTheProbe) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    ASSERT_TRUE(camera->Set("hang=1"));
    ASSERT_EQ(exports.init(&callback, 1), 1);
    ASSERT_EQ(exports.start("127.0.0.1", camera->port, "", "", &results), 1);
    ASSERT_TRUE(WaitForRequests(*camera, 1));
    const auto before = Clock::now();
    EXPECT_EQ(exports.uninit(), 1);
    const auto took = Clock::now() - before;
    camera->Set("hang=0");
    // The abort cuts the exchange short: the probe reports its own end well
    // within the bound, nothing is killed.
    EXPECT_LT(took, 10s);
    const auto outcomes = callback.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CapabilityOutcome::Failed);
    EXPECT_EQ(outcomes[0].code, 3);
}

TEST_F(CapabilityLifecycle, ProbeStuckBeyondTheAbortIsKilledAfterTheBound) {
    auto camera = NewCamera();
    if (!camera) GTEST_SKIP() << "camera simulator not running";
    results.BlockInSetName();
    ASSERT_EQ(exports.init(&callback, 1), 1);
    ASSERT_EQ(exports.start("127.0.0.1", camera->port, "", "", &results), 1);
    ASSERT_TRUE(results.WaitBlocked(kBound));
    const auto before = Clock::now();
    EXPECT_EQ(exports.uninit(), 1);
    const auto took = Clock::now() - before;
    results.Unblock();
    EXPECT_GE(took, 9500ms);
    EXPECT_LT(took, 20s);
    const auto outcomes = callback.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, CapabilityOutcome::ThreadTerminated);
    EXPECT_EQ(outcomes[0].threadId, GetCurrentThreadId());
}
