// Reason phrase, Public methods and transport refusals, as real servers
// write them.
#include "streaming/RTSPReplyFacts.h"

#include <gtest/gtest.h>

using namespace zentavo;

TEST(RTSPReplyFacts, FieldsAsServersWriteThem) {
    const std::string vlc = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nPublic: DESCRIBE,SETUP,TEARDOWN,PLAY,PAUSE,GET_PARAMETER\r\n\r\n";
    const std::string lower = "RTSP/1.0 200 OK\r\npublic: OPTIONS, DESCRIBE, get_parameter \r\n\r\n";
    const std::string none = "RTSP/1.0 200 OK\r\nPublic: OPTIONS, DESCRIBE, SETUP\r\n\r\nPublic: GET_PARAMETER\r\n";
    const std::string refused = "RTSP/1.0 461 Unsupported transport\r\nCSeq: 3\r\n\r\n";
    bool known = false;
    EXPECT_TRUE(RtspPublicLists(vlc, "GET_PARAMETER", known));
    EXPECT_TRUE(known);
    EXPECT_TRUE(RtspPublicLists(lower, "GET_PARAMETER", known));
    known = false;
    EXPECT_FALSE(RtspPublicLists(none, "GET_PARAMETER", known));  // the body is no header
    EXPECT_TRUE(known);
    known = false;
    EXPECT_FALSE(RtspPublicLists(refused, "GET_PARAMETER", known));
    EXPECT_FALSE(known);

    EXPECT_EQ(RtspStatusCode(refused), 461u);
    EXPECT_EQ(RtspReasonPhrase(refused), "Unsupported transport");
    EXPECT_EQ(RtspReasonPhrase("RTSP/1.0 200\r\n\r\n"), "");
    EXPECT_EQ(RtspStatusCode("garbage 200 OK\r\n"), 0u);
    EXPECT_EQ(RtspReasonPhrase("RTSP/1.0 551 Option\x01 not supported\r\n"), "Option not supported");

    EXPECT_TRUE(RtspRefusesTransport(461, "Unsupported transport"));
    EXPECT_TRUE(RtspRefusesTransport(406, "TCP TRANSPORT IS NOT SUPPORTED"));
    EXPECT_TRUE(RtspRefusesTransport(400, "Bad Transport"));
    EXPECT_FALSE(RtspRefusesTransport(453, "Not Enough Bandwidth"));
    EXPECT_FALSE(RtspRefusesTransport(551, "Transport failure"));
}
