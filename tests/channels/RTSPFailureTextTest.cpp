// The words an integrator reads when an RTSP connection attempt fails.
#include "channels/RTSPFailureText.h"

#include <gtest/gtest.h>

#include "streaming/RTSPResponseParser.h"

using namespace zentavo;

TEST(RTSPFailureText, OneCauseInWordsPerRecord) {
    auto result = [](auto fill) {
        RTSP_SESSION_RESULT r;
        fill(r);
        return r;
    };
    const struct {
        RTSP_SESSION_RESULT record;
        const char* text;
    } rows[] = {
        {result([](RTSP_SESSION_RESULT&) {}), ""},
        {result([](RTSP_SESSION_RESULT& r) { r.played = true; }), ""},
        {result([](RTSP_SESSION_RESULT& r) { r.connectFailed = true; }), "no answer from cam:554: check the address and that a firewall lets the RTSP port through"},
        {result([](RTSP_SESSION_RESULT& r) { r.connectFailed = r.connectRefused = true; }),
         "connection refused by cam:554: check the camera's RTSP port and that its RTSP server runs"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_DESCRIBE;
             r.statusCode = 401;
             r.reasonPhrase = "Unauthorized";
             r.credentialsRefused = true;
             r.authScheme = RTSP_AUTH_DIGEST;
             r.realm = "IP Camera(C1214)";
         }),
         "DESCRIBE answered 401 Unauthorized (Digest, realm \"IP Camera(C1214)\"): check user name and password"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_DESCRIBE;
             r.statusCode = 401;
             r.credentialsRefused = true;
             r.authScheme = RTSP_AUTH_BASIC;
             r.realm = "a\"b\r\nc";
         }),
         "DESCRIBE answered 401 (Basic, realm \"abc\"): check user name and password"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_SETUP;
             r.statusCode = 461;
             r.reasonPhrase = "Unsupported transport";
             r.transportRefused = true;
         }),
         "camera refused the transport (SETUP answered 461 Unsupported transport over UDP and over TCP)"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_SETUP;
             r.statusCode = 453;
             r.reasonPhrase = "Not Enough Bandwidth";
         }),
         "SETUP answered 453 Not Enough Bandwidth"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_PLAY;
             r.statusCode = 551;
             r.reasonPhrase = "Option not supported";
         }),
         "PLAY answered 551 Option not supported"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.failedMethod = RTSP_DESCRIBE;
             r.noAnswer = true;
         }),
         "no answer to DESCRIBE from cam:554"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.played = r.serverClosed = true;
         }),
         "session ended by the camera (connection closed)"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.played = r.sessionExpired = true;
         }),
         "session ended by the camera (session expired)"},
        {result([](RTSP_SESSION_RESULT& r) {
             r.played = r.byeReceived = r.serverClosed = true;
         }),
         "session ended by the camera (RTCP BYE)"},
    };
    for (const auto& row : rows) EXPECT_EQ(DescribeRtspFailure(row.record, "cam", 554), row.text);
}
