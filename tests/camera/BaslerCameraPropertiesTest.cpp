// The login check and parameter exchanges of the capability probe against a
// scripted HTTP server: what is sent, and when nothing may be.
#include <gtest/gtest.h>

#include <string>

#include "camera/BaslerCameraProperties.h"
#include "support/ScriptedHttpServer.h"

using namespace zentavo;
using halvencap_test::ScriptedAnswer;
using halvencap_test::ScriptedHttpServer;

namespace {

DEVICE_INFO Device(uint16_t port) { return DEVICE_INFO("127.0.0.1", port, "", ""); }

}  // namespace

TEST(BaslerCameraProperties, LoginCheckSendsEnableOnlyWhenNotEnabled) {
    const struct {
        const char* status;
        const char* enable;  // null: not asked for
        bool result;
    } cases[] = {
        {"{'method': 'Status', 'success': 'true', 'enabled': 'true'}", nullptr, true},
        {"{'method': 'Status', 'success': 'true', 'enabled': 'false'}", "{'method': 'Enable', 'success': 'true'}", true},
        {"{'method': 'Status', 'success': 'true'}", "{'method': 'Enable', 'success': 'false'}", false},
        {"{'method': 'Status', 'success': 'true', 'enabled': 'True'}", "{'method': 'enable', 'success': 'true'}",
         false},
        {"{'method': 'Status', 'success': 'false', 'enabled': 'true'}", nullptr, false},
    };
    for (const auto& c : cases) {
        ScriptedHttpServer server;
        ASSERT_TRUE(server.IsListening());
        server.Push(ScriptedAnswer::Ok(c.status));
        if (c.enable) server.Push(ScriptedAnswer::Ok(c.enable));
        CBaslerCameraProperties properties(0, Device(server.Port()));
        EXPECT_EQ(properties.CheckLogin(), c.result) << c.status;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), c.enable ? 2u : 1u) << c.status;
        EXPECT_EQ(ScriptedHttpServer::RequestLine(requests[0]), "GET /cgi-bin/auth_if.cgi?Status HTTP/1.1");
        if (c.enable) {
            EXPECT_EQ(ScriptedHttpServer::RequestLine(requests[1]), "GET /cgi-bin/auth_if.cgi?Enable HTTP/1.1");
        }
    }
}

TEST(BaslerCameraProperties, AuthAnswerBodyAndRefusedLogin) {
    ScriptedHttpServer server;
    server.Push(ScriptedAnswer::Ok("{'method': 'Status', 'success': 'true'}"));
    server.Push(ScriptedAnswer::Status(401, "Unauthorized"));
    CBaslerCameraProperties properties(0, Device(server.Port()));
    std::string body = "stale";
    EXPECT_TRUE(properties.RequestAuthMethod(body, "Status"));
    EXPECT_EQ(body, "{method: Status, success: true}");
    EXPECT_FALSE(properties.RequestAuthMethod(body, ""));
    EXPECT_TRUE(body.empty());
    body = "stale";
    EXPECT_FALSE(properties.RequestAuthMethod(body, "Status"));
    EXPECT_TRUE(body.empty());
    int32_t code = 0;
    // The 401 decides the code of a fetch that fails on it.
    server.Push(ScriptedAnswer::Status(401, "Unauthorized"));
    EXPECT_FALSE(properties.FetchProperties(code));
    EXPECT_EQ(code, 1);
}

TEST(BaslerCameraProperties, NothingIsSentOnceStoppedOrWithoutActions) {
    ScriptedHttpServer server;
    server.SetDefault(ScriptedAnswer::Ok("Return_0=1\r\n"));
    CBaslerCameraProperties properties(0, Device(server.Port()));
    CBaslerRequest empty;
    EXPECT_FALSE(properties.ExecuteRequest(empty));
    CBaslerRequest request;
    request.AddGetValue("Stream.Quality");
    EXPECT_TRUE(properties.ExecuteRequest(request));
    EXPECT_EQ(server.RequestCount(), 1u);

    properties.Abort();
    CBaslerRequest again;
    again.AddGetValue("Stream.Quality");
    EXPECT_FALSE(properties.ExecuteRequest(again));
    std::string body;
    EXPECT_FALSE(properties.RequestAuthMethod(body, "Status"));
    EXPECT_FALSE(properties.CheckLogin());
    int32_t code = 0;
    EXPECT_FALSE(properties.FetchProperties(code));
    EXPECT_EQ(code, 3);
    EXPECT_EQ(server.RequestCount(), 1u);
}
