#include "streaming/RTSPResponseParser.h"

#include <gtest/gtest.h>

#include <string>

using namespace zentavo;

namespace {

std::string Response(const std::string& status, const std::string& headers, const std::string& body = "") {
    return status + "\r\n" + headers + "\r\n" + body;
}

TEST(RTSPResponseParser, SessionAndCSeq) {
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "CSeq: 3\r\nSession: 12AB;timeout=60\r\n"), RTSP_PLAY));
    EXPECT_EQ(p.Response().protocol, "RTSP/1.0");
    EXPECT_EQ(p.Response().statusCode, 200u);
    EXPECT_EQ(p.Response().cseq, 3u);
    EXPECT_EQ(p.Response().session, "12AB");
    EXPECT_EQ(p.Response().sessionTimeout, 60);

    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "CSeq:5\r\nSession: 4711\r\n"), RTSP_OPTIONS));
    EXPECT_EQ(p.Response().cseq, 5u);
    EXPECT_EQ(p.Response().session, "4711");
    EXPECT_EQ(p.Response().sessionTimeout, 60);  // unchanged

    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Session: 12AB;timeout=0\r\n"), RTSP_PLAY));
    EXPECT_EQ(p.Response().sessionTimeout, 30);
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Session: 12AB;timeout=x\r\n"), RTSP_PLAY));
    EXPECT_EQ(p.Response().sessionTimeout, 30);
    EXPECT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Session:4711\r\n"), RTSP_PLAY));
    EXPECT_EQ(p.Response().session, "4711");
    EXPECT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "session: 4712\r\n"), RTSP_PLAY));
    EXPECT_EQ(p.Response().session, "4712");
    EXPECT_FALSE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Session: ;timeout=60\r\n"), RTSP_PLAY));

    p.Reset();
    EXPECT_TRUE(p.Response().session.empty());
    EXPECT_EQ(p.Response().cseq, 0u);
}

TEST(RTSPResponseParser, StatusLines) {
    const struct {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"200", "RTSP/1.0 200 OK\r\n\r\n", true},
        {"401", "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=cam\r\n\r\n", true},
        {"404", "RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n", false},
        {"empty", "", false},
        {"no terminator", "RTSP/1.0 200 OK", false},
        {"no code", "RTSP/1.0 OK\r\n\r\n", false},
        {"overlong protocol", std::string(200, 'R') + " 200 OK\r\n\r\n", false},
        {"LF only", "RTSP/1.0 200 OK\nCSeq: 9\n\n", true},
    };
    for (const auto& c : cases) {
        CRTSPResponseParser p;
        EXPECT_EQ(p.ParseResponse(c.text, RTSP_OPTIONS), c.ok) << c.name;
    }
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse("RTSP/1.0 200 OK\nCSeq: 9\n\n", RTSP_OPTIONS));
    EXPECT_EQ(p.Response().cseq, 9u);
}

TEST(RTSPResponseParser, HeaderHandling) {
    const struct {
        const char* name;
        std::string headers;
        bool ok;
    } cases[] = {
        {"bad CSeq", "CSeq: x\r\n", false},
        {"CSeq with blank before colon", "CSeq : 4\r\n", true},
        {"content-length any case", "CONTENT-LENGTH: 0\r\n", true},
        {"bad Content-Length", "Content-Length: abc\r\n", false},
        {"empty Content-Type", "Content-Type:\r\n", false},
        {"Content-Base with blank", "Content-Base : rtsp://x/\r\n", true},
        {"Content-Base not rtsp", "Content-Base: http://x/\r\n", true},
        {"unknown header", "X-Whatever: 1\r\n", true},
        {"colon at index 1", "X: 1\r\n", true},
        {"Digest without nonce", "WWW-Authenticate: Digest realm=\"cam\"\r\n", false},
        {"Digest complete", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n", true},
        {"digest lower case", "WWW-Authenticate: digest realm=\"cam\", nonce=\"1\"\r\n", true},
        {"scheme word alone", "WWW-Authenticate: Basic\r\n", true},
        {"header in other case", "www-authenticate: Basic realm=x\r\n", true},
        {"unknown scheme", "WWW-Authenticate: Negotiate\r\n", true},
    };
    for (const auto& c : cases) {
        CRTSPResponseParser p;
        EXPECT_EQ(p.ParseResponse(Response("RTSP/1.0 200 OK", c.headers), RTSP_OPTIONS), c.ok) << c.name;
    }
}

TEST(RTSPResponseParser, AuthenticationChallenges) {
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 401 Unauthorized", "WWW-Authenticate: Basic realm=\"cam\"\r\n"),
                                RTSP_DESCRIBE));
    EXPECT_EQ(p.Response().authScheme, RTSP_AUTH_BASIC);
    EXPECT_EQ(p.Response().realm, "cam");
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 401 Unauthorized",
                                         "WWW-Authenticate: Basic realm=old\r\n"
                                         "WWW-Authenticate: Digest realm=\"Basler cam\", nonce=\"0a1b2c\", "
                                         "stale=FALSE\r\n"),
                                RTSP_DESCRIBE));
    EXPECT_EQ(p.Response().authScheme, RTSP_AUTH_DIGEST);
    EXPECT_EQ(p.Response().realm, "Basler cam");
    EXPECT_EQ(p.Response().nonce, "0a1b2c");
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 401 Unauthorized", "WWW-Authenticate: Negotiate\r\n"),
                                RTSP_DESCRIBE));
    EXPECT_EQ(p.Response().authScheme, RTSP_AUTH_NONE);
}

TEST(RTSPResponseParser, ChallengeWithAnErrorPageBodyIsAccepted) {
    const std::string page = "m=\r\n<html>Unauthorized</html>\r\n";
    CRTSPResponseParser p;
    EXPECT_TRUE(p.ParseResponse(Response("RTSP/1.0 401 Unauthorized",
                                         "WWW-Authenticate: Basic realm=cam\r\nContent-Length: " +
                                             std::to_string(page.size()) + "\r\n",
                                         page),
                                RTSP_DESCRIBE));
    EXPECT_EQ(p.Response().authScheme, RTSP_AUTH_BASIC);
}

TEST(RTSPResponseParser, DescribeReplyWithSessionDescription) {
    const std::string sdp =
        "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHw==,aM48gA==\r\na=control:trackID=1\r\n";
    const std::string headers = "CSeq: 2\r\nContent-Base: rtsp://10.0.0.5/h264?stream=0 \r\n"
                                "Content-Type: application/sdp\r\nContent-Length: " +
                                std::to_string(sdp.size()) + "\r\n";
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", headers, sdp + "trailing garbage"), RTSP_DESCRIBE));
    EXPECT_EQ(p.Response().contentBase, "rtsp://10.0.0.5/h264?stream=0");
    EXPECT_EQ(p.Response().contentType, "application/sdp");
    EXPECT_EQ(p.Response().contentLength, sdp.size());
    EXPECT_EQ(p.Response().description.Media(1)->control, "trackID=1");
    EXPECT_EQ(p.Response().description.parameterSet1.size(), 4u);

    // Announced body missing entirely: the headers never ended.
    CRTSPResponseParser q;
    EXPECT_FALSE(q.ParseResponse("RTSP/1.0 200 OK\r\nContent-Length: 50\r\n", RTSP_DESCRIBE));
    // A body the description parser rejects.
    EXPECT_FALSE(q.ParseResponse(Response("RTSP/1.0 200 OK", "Content-Length: 4\r\n", "junk"), RTSP_DESCRIBE));
    // No Content-Length: an empty description.
    EXPECT_TRUE(q.ParseResponse(Response("RTSP/1.0 200 OK", "CSeq: 1\r\n", sdp), RTSP_DESCRIBE));
    EXPECT_TRUE(q.Response().description.Media(1)->control.empty());
}

TEST(RTSPResponseParser, InterleavedChannelFromSetup) {
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(
        Response("RTSP/1.0 200 OK", "CSeq: 3\r\nSession: 1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n"),
        RTSP_SETUP));
    EXPECT_EQ(p.Response().interleavedChannel, 2);
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Transport: RTP/AVP/TCP;interleaved=260-261\r\n"),
                                RTSP_SETUP));
    EXPECT_EQ(p.Response().interleavedChannel, 4);  // low byte
    p.Reset();
    EXPECT_EQ(p.Response().interleavedChannel, 4);  // survives a reset
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Transport: RTP/AVP/TCP;interleaved=6-7\r\n"),
                                RTSP_PLAY));
    EXPECT_EQ(p.Response().interleavedChannel, 4);  // only SETUP replies are scanned
}

// The channel pair each SETUP answer grants; the client routes by it alone.
TEST(RTSPResponseParser, InterleavedPairOfEachSetupAnswer) {
    const struct {
        const char* name;
        std::string text;
        int rtp, rtcp;
    } rows[] = {
        {"other channels than asked", "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n"
         "Session: CAMSIM1\r\n\r\n", 4, 5},
        {"blanks around the numbers", "RTSP/1.0 200 OK\r\nSession: 1\r\nTransport: RTP/AVP/TCP; interleaved = 6 - 9\r\n\r\n",
         6, 9},
        {"lone LF, last line unterminated", "RTSP/1.0 200 OK\nSession: 1\nTransport: RTP/AVP/TCP;interleaved=2-3", 2, 3},
        {"none named: those asked, not the last answer's", "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: RTP/AVP/TCP;unicast\r\n\r\n", 0, 1},
        {"beyond a byte: those asked", "RTSP/1.0 200 OK\r\nSession: 1\r\nTransport: RTP/AVP/TCP;interleaved=300-301\r\n\r\n",
         0, 1},
        {"only the chosen transport counts", "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: RTP/AVP/TCP;unicast,RTP/AVP/TCP;interleaved=8-9\r\n\r\n", 0, 1},
        {"the first Transport header holds", "RTSP/1.0 200 OK\r\nSession: 1\r\nTransport: RTP/AVP/TCP;interleaved=4-5\r\n"
         "Transport: RTP/AVP/TCP;interleaved=6-7\r\n\r\n", 4, 5},
        {"a Transport line in the body is none", "RTSP/1.0 200 OK\r\nSession: 1\r\nContent-Length: 40\r\n\r\n"
         "Transport: RTP/AVP/TCP;interleaved=6-7\r\n", 0, 1},
    };
    for (const auto& row : rows) {
        CRTSPResponseParser p;
        ASSERT_TRUE(p.ParseResponse("RTSP/1.0 200 OK\r\nSession: 1\r\nTransport: RTP/AVP/TCP;interleaved=10-11\r\n\r\n",
                                    RTSP_SETUP));
        ASSERT_TRUE(p.ParseResponse(row.text, RTSP_SETUP)) << row.name;
        EXPECT_EQ(p.Response().interleavedRtpChannel, row.rtp) << row.name;
        EXPECT_EQ(p.Response().interleavedRtcpChannel, row.rtcp) << row.name;
    }
}

// The camera's RTCP port, as far as the SETUP answer names it.
TEST(RTSPResponseParser, ServerRtcpPortFromSetup) {
    const struct {
        const char* transport;
        uint16_t rtcpPort;
    } rows[] = {
        {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971", 6971},
        {"RTP/AVP;unicast;client_port=5000-5001;server_port=6970", 6971},
        {"RTP/AVP;unicast;client_port=5000-5001", 0},
        {"RTP/AVP;unicast;Server_Port = 6970 - 6975 ;ssrc=1A2B3C4D", 6975},
        {"RTP/AVP;unicast;server_port=6970-x", 6971},
        {"RTP/AVP;unicast;server_port=abc-6971", 0},
        {"RTP/AVP;unicast;server_port=", 0},
        {"RTP/AVP;unicast;server_port=99999-100000", 0},
        {"RTP/AVP;unicast;server_port=4294967297", 0},
        {"RTP/AVP;unicast;server_port=65535", 0},
        {"RTP/AVP;unicast;server_port=-6971", 0},
        {"RTP/AVP;unicast,RTP/AVP;server_port=6970-6971", 0},  // not the chosen transport
    };
    for (const auto& row : rows) {
        CRTSPResponseParser p;
        // An earlier SETUP's port must not stand in for this one's.
        ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Transport: RTP/AVP;server_port=7000-7001\r\n"),
                                    RTSP_SETUP));
        ASSERT_TRUE(p.ParseResponse(
            Response("RTSP/1.0 200 OK", std::string("CSeq: 3\r\nSession: 1\r\nTransport: ") + row.transport + "\r\n"),
            RTSP_SETUP))
            << row.transport;
        EXPECT_EQ(p.Response().serverRtcpPort, row.rtcpPort) << row.transport;
    }
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "CSeq: 3\r\nSession: 1\r\n"), RTSP_SETUP));
    EXPECT_EQ(p.Response().serverRtcpPort, 0);
}

// One row per shape of answer seen from real servers: none of them may fail
// the response, and the record holds what the client needs.
TEST(RTSPResponseParser, AnswersInEveryShape) {
    const std::string longId = "1234567890123456789012345678901";
    const struct {
        const char* name;
        int method;
        std::string text;
        uint32_t cseq;
        std::string session;
        int32_t timeout;
        int rtp;
        int rtcp;
    } cases[] = {
        {"names in any case", RTSP_OPTIONS, "RTSP/1.0 200 OK\r\nCseq: 4\r\nContent-length: 0\r\nx-Dynamic-Rate: 1\r\n"
         "x-Accept-Retransmit: our-retransmit\r\n\r\n", 4, "", 0, -1, -1},
        {"Session on OPTIONS", RTSP_OPTIONS, "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 7A3F\r\n"
         "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n", 5, "7A3F", 0, -1, -1},
        {"401 without CSeq", RTSP_DESCRIBE, "RTSP/1.0 401 Unauthorized\r\n"
         "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n", 0, "", 0, -1, -1},
        {"31-digit session, 15 s", RTSP_SETUP, "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: " + longId + ";timeout=15\r\n"
         "Transport: RTP/AVP;unicast;client_port=3556-3557;server_port=6970-6971;ssrc=1A2B3C4D\r\n\r\n",
         3, longId, 15, 0, 1},
        {"timeout with blanks and case", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 99 ; Timeout = 120\r\n\r\n", 0, "99",
         120, 0, 1},
        {"trailing semicolon", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 99;\r\n\r\n", 0, "99", 0, 0, 1},
        {"TCP without /TCP, ssrc first", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: ssrc=5b0a3f;RTP/AVP;unicast;interleaved=4-5;mode=\"play\"\r\n\r\n", 0, "1", 0, 4, 5},
        {"decimal ssrc, source=;, trailing ;", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: RTP/AVP/TCP;unicast;source=;interleaved=6-7;ssrc=123456789;mode=PLAY;\r\n\r\n", 0, "1", 0, 6, 7},
        {"interleaved in other case, one channel", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: RTP/AVP/TCP;Interleaved=8\r\n\r\n", 0, "1", 0, 8, 9},
        {"other client ports", RTSP_SETUP, "RTSP/1.0 200 OK\r\nSession: 1\r\n"
         "Transport: RTP/AVP;unicast;client_port=7000-7001;server_port=8000-8001\r\n\r\n", 0, "1", 0, 0, 1},
        {"PLAY with another timeout, RTP-Info shapes", RTSP_PLAY, "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 1;timeout=45\r\n"
         "RTP-Info: url=trackID=1;seq=0;rtptime=0;ssrc=1A2B, url=rtsp://cam/s/trackID=2;seq=17;rtptime=x;\r\n\r\n",
         4, "1", 45, -1, -1},
    };
    for (const auto& c : cases) {
        CRTSPResponseParser p;
        ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Session: 0;timeout=60\r\n"), RTSP_SETUP)) << c.name;
        const int32_t before = p.Response().sessionTimeout;
        EXPECT_TRUE(p.ParseResponse(c.text, c.method)) << c.name;
        EXPECT_EQ(p.Response().cseq, c.cseq) << c.name;
        if (!c.session.empty()) {
            EXPECT_EQ(p.Response().session, c.session) << c.name;
        }
        EXPECT_EQ(p.Response().sessionTimeout, c.timeout != 0 ? c.timeout : before) << c.name;
        if (c.rtp >= 0) {
            EXPECT_EQ(p.Response().interleavedRtpChannel, c.rtp) << c.name;
            EXPECT_EQ(p.Response().interleavedRtcpChannel, c.rtcp) << c.name;
        }
    }

    // TEARDOWN answers that carry no success: refused, never a crash or a
    // record the next session would inherit.
    CRTSPResponseParser p;
    EXPECT_FALSE(p.ParseResponse("RTSP/1.0 0\r\n\r\n", RTSP_TEARDOWN));
    EXPECT_FALSE(p.ParseResponse("RTSP/1.0 500 Internal Server Error\r\nCSeq: 9\r\n\r\n", RTSP_TEARDOWN));
}

TEST(RTSPResponseParser, ContentBaseAndLocationAsSent) {
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", "Content-Base: rtsp://rtsp://10.1.8.83:554/stream0/\r\n"
                                                            "content-location:  192.168.1.10:554/stream0/ \r\n"),
                                RTSP_OPTIONS));
    EXPECT_EQ(p.Response().contentBase, "rtsp://rtsp://10.1.8.83:554/stream0/");
    EXPECT_EQ(p.Response().contentLocation, "192.168.1.10:554/stream0/");
}

// Headers far beyond what one socket read returns must parse the same.
TEST(RTSPResponseParser, LongHeadersAndManyHeaders) {
    std::string headers = "CSeq: 12\r\nServer: " + std::string(70000, 'S') + "\r\n";
    for (int i = 0; i < 500; ++i) headers += "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f') + "\r\n";
    headers += "Session: " + std::string(1000, 'A') + ";timeout=45\r\n";
    headers += "Content-Type: " + std::string(1000, 'a') + "\r\n";
    CRTSPResponseParser p;
    ASSERT_TRUE(p.ParseResponse(Response("RTSP/1.0 200 OK", headers), RTSP_PLAY));
    EXPECT_EQ(p.Response().cseq, 12u);
    EXPECT_EQ(p.Response().session, std::string(1000, 'A'));
    EXPECT_EQ(p.Response().sessionTimeout, 45);
    EXPECT_EQ(p.Response().contentType.size(), 255u);
}

}  // namespace
