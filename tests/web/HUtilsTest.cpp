#include <gtest/gtest.h>

#include "support/ScriptedHttpServer.h"
#include "web/HUtils.h"
#include "web/HttpSender.h"

using namespace halvencap_test;
using namespace zentavo;

namespace {

const char* const kRequest = "/cgi-bin/param_if.cgi?NumActions=1&Action_0=SysInfo.ModelName.GetValue";

DEVICE_INFO Device(uint16_t port, const std::string& user = "", uint32_t timeoutMs = 2000) {
    DEVICE_INFO device("127.0.0.1", port, user, user.empty() ? "" : "secret");
    device.requestTimeoutMs = timeoutMs;
    return device;
}

std::string DeviceText(uint16_t port) {
    return "device 127.0.0.1:" + std::to_string(port);
}

class RequestGetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.IsListening()); }
    ScriptedHttpServer server;
};

TEST_F(RequestGetTest, SuccessReturnsTheBody) {
    server.Push(ScriptedAnswer::Ok("Return_0=BIP2-1300c\r\n"));
    Web::CHttpSender sender(Device(server.Port()));
    Web::ByteArray body = {'o', 'l', 'd'};
    CResultDef result(LOG_ERROR, 99, "stale");
    HUtils::RequestGetRD(body, sender, result, kRequest);
    EXPECT_EQ(0, result.m_code);
    EXPECT_EQ(LOG_INFO, result.m_level);
    EXPECT_EQ("", result.m_text);
    EXPECT_EQ("Return_0=BIP2-1300c\r\n", std::string(body.begin(), body.end()));
    EXPECT_EQ(std::string("GET ") + kRequest + " HTTP/1.1",
              ScriptedHttpServer::RequestLine(server.Requests().at(0)));
}

TEST_F(RequestGetTest, NotFoundIsCodeEightWithTheStatusLast) {
    server.Push(ScriptedAnswer::Status(404, "Not Found"));
    server.Push(ScriptedAnswer::Status(302, "Found"));
    Web::CHttpSender sender(Device(server.Port()));
    std::string body = "old";
    CResultDef result = HUtils::RequestGetRD(body, sender, "/missing");
    EXPECT_EQ(8, result.m_code);
    EXPECT_EQ(LOG_ERROR, result.m_level);
    EXPECT_EQ("zentavo::HUtils::RequestGetRD: " + DeviceText(server.Port()) +
                  " does not process request \"/missing\", status code = 404",
              result.m_text);
    EXPECT_EQ("", body);

    EXPECT_FALSE(HUtils::RequestGet(body, sender, "/moved"));
}

TEST_F(RequestGetTest, EmptyAnswerIsCodeTwelve) {
    server.Push(ScriptedAnswer::Ok(""));
    server.Push(ScriptedAnswer::Status(204, "No Content"));
    Web::CHttpSender sender(Device(server.Port()));
    for (int i = 0; i < 2; ++i) {
        std::string body;
        CResultDef result = HUtils::RequestGetRD(body, sender, kRequest);
        EXPECT_EQ(12, result.m_code);
        EXPECT_EQ(LOG_ERROR, result.m_level);
        EXPECT_EQ(std::string("zentavo::HUtils::RequestGetRD: incorrect response for request \"") +
                      kRequest + "\" from " + DeviceText(server.Port()),
                  result.m_text);
    }
}

TEST_F(RequestGetTest, UnreachableOrSilentDeviceIsCodeElevenAtSilentLevel) {
    const uint16_t closedPort = ScriptedHttpServer::ClosedPort();
    Web::CHttpSender unreachable(Device(closedPort));
    std::string body;
    CResultDef result = HUtils::RequestGetRD(body, unreachable, "/x");
    EXPECT_EQ(11, result.m_code);
    EXPECT_EQ(LOG_SILENT, result.m_level);
    EXPECT_EQ("zentavo::HUtils::RequestGetRD: cannot send request \"/x\" to " + DeviceText(closedPort),
              result.m_text);

    server.SetDefault(ScriptedAnswer::Hang());
    Web::CHttpSender silent(Device(server.Port(), "", 1000));
    EXPECT_EQ(11, HUtils::RequestGetRD(body, silent, "/y").m_code);
    server.ReleaseHangs();

    server.SetDefault(ScriptedAnswer::Raw("\x01\x02 not http at all\r\n\r\n"));
    Web::CHttpSender garbage(Device(server.Port(), "", 1000));
    EXPECT_EQ(11, HUtils::RequestGetRD(body, garbage, "/z").m_code);
}

TEST_F(RequestGetTest, RejectedCredentialsGiveElevenThenEightWith401) {
    ScriptedAnswer challenge = ScriptedAnswer::Status(401, "Unauthorized");
    challenge.headers.push_back("WWW-Authenticate: Basic realm=\"cam\"");
    server.SetDefault(challenge);
    Web::CHttpSender sender(Device(server.Port(), "admin"));
    std::string body;
    EXPECT_EQ(11, HUtils::RequestGetRD(body, sender, "/a").m_code);
    CResultDef later = HUtils::RequestGetRD(body, sender, "/b");
    EXPECT_EQ(8, later.m_code);
    EXPECT_NE(std::string::npos, later.m_text.find("status code = 401"));
}

TEST_F(RequestGetTest, ConvenienceFormsAgree) {
    server.Push(ScriptedAnswer::Ok("payload"));
    Web::CHttpSender sender(Device(server.Port()));
    std::string body;
    EXPECT_TRUE(HUtils::RequestGet(body, sender, "/p"));
    EXPECT_EQ("payload", body);
}

}  // namespace
