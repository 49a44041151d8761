#include "streaming/SDPResponseParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zentavo::CSDPResponseParser;
using zentavo::SDP_MEDIA_AUDIO;
using zentavo::SDP_MEDIA_METADATA;
using zentavo::SDP_MEDIA_VIDEO;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SDPResponseParser, H264CameraDescription) {
    const std::string sdp =
        "v=0\r\n"
        "o=- 1 1 IN IP4 192.168.0.10\r\n"
        "s=Media Presentation\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "a=control:*\r\n"
        "m=video 0 RTP/AVP 96\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 packetization-mode=1; profile-level-id=42001F; sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
        "a=control:trackID=1\r\n";
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(sdp));
    const auto& d = parser.Description();
    const auto* video = d.Media(SDP_MEDIA_VIDEO);
    EXPECT_EQ(video->port, 0);
    EXPECT_EQ(video->protocol, "RTP/AVP");
    EXPECT_EQ(video->encoding, "H264/90000");
    EXPECT_EQ(video->control, "trackID=1");
    EXPECT_EQ(video->connection, "");  // the session-level c= line belongs to no media
    EXPECT_EQ(d.parameterSet1, (Bytes{0x67, 0x42, 0x00, 0x1F, 0x95, 0xA8, 0x14, 0x01, 0x6E, 0x40}));
    EXPECT_EQ(d.parameterSet2, (Bytes{0x68, 0xCE, 0x3C, 0x80}));
    EXPECT_TRUE(d.Media(SDP_MEDIA_AUDIO)->control.empty());
}

TEST(SDPResponseParser, Mpeg4ConfigurationHexOrBase64) {
    const struct {
        const char* name;
        std::string fmtp;
        Bytes config;
    } cases[] = {
        {"hex", "a=fmtp:96 profile-level-id=1;config=000001B0F5", {0, 0, 1, 0xB0, 0xF5}},
        {"hex lower case", "a=fmtp:96 config=000001b0f5", {0, 0, 1, 0xB0, 0xF5}},
        {"odd digit count", "a=fmtp:96 config=ABC", {0xAB, 0x0C}},
        {"base64 with padding", "a=fmtp:96 config=AAABsPU=", {0, 0, 1, 0xB0, 0xF5}},
        {"too long", "a=fmtp:96 config=" + std::string(514, 'A'), {}},
        {"256 bytes is still kept", "a=fmtp:96 config=" + std::string(512, '1'), Bytes(256, 0x11)},
    };
    for (const auto& c : cases) {
        CSDPResponseParser parser;
        ASSERT_TRUE(parser.Parse("m=video 5004 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n" + c.fmtp + "\r\n"))
            << c.name;
        EXPECT_EQ(parser.Description().configuration, c.config) << c.name;
        EXPECT_EQ(parser.Description().Media(SDP_MEDIA_VIDEO)->port, 5004) << c.name;
    }
}

TEST(SDPResponseParser, LineHandling) {
    const struct {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"empty", "", true},
        {"only line breaks", "\r\n\n\r", true},
        {"m= without words", "m=\r\n", false},
        {"m= with blanks only", "m=   \r\n", false},
        {"unknown media then fmtp", "m=text 0 RTP/AVP 98\r\na=fmtp:98 x=1\r\n", false},
        {"fmtp before any media", "a=fmtp:96 x=1\r\n", false},
        {"audio fmtp ignored", "m=audio 0 RTP/AVP 97\r\na=fmtp:97 config=1234\r\n", true},
        {"control without value", "m=video 0 RTP/AVP 96\r\na=control:\r\n", false},
        {"control with capital A", "m=video 0 RTP/AVP 96\r\nA=control:x\r\n", false},
        {"session-level control", "a=control:rtsp://cam/\r\n", true},
        {"rtpmap with one word", "m=video 0 RTP/AVP 96\r\na=rtpmap:96\r\n", false},
        {"IP6 connection", "m=video 0 RTP/AVP 96\r\nc=IN IP6 ::1\r\n", true},
        {"unknown address type", "m=video 0 RTP/AVP 96\r\nc=IN IPX 1.2.3.4\r\n", false},
        {"lower-case IN", "m=video 0 RTP/AVP 96\r\nc=in IP4 1.2.3.4\r\n", false},
        {"short connection", "m=video 0 RTP/AVP 96\r\nc=IN IP4\r\n", false},
        {"empty address", "m=video 0 RTP/AVP 96\r\nc=IN IP4 /16\r\n", false},
        {"LF line ends", "m=video 0 RTP/AVP 96\na=control:track1\n", true},
    };
    for (const auto& c : cases) {
        CSDPResponseParser parser;
        EXPECT_EQ(parser.Parse(c.text), c.ok) << c.name;
    }
}

TEST(SDPResponseParser, MediaSelectionAndOverwriting) {
    const std::string sdp =
        "m=video 1000 RTP/AVP 96\r\n"
        "c=IN IP4 239.1.1.1/16\r\n"
        "a=control:video1\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "m=audio 70000 RTP/AVP 97\r\n"
        "a=control:audio\r\n"
        "m=application 5004/2 RTP/AVP 107\r\n"
        "a=control:meta\r\n"
        "m=video 2000 RTP/SAVP 98\r\n"
        "a=control:video2\r\n"
        "m=text 0 RTP/AVP 99\r\n"
        "a=control:ignored\r\n"
        "a=rtpmap:99 t140/1000\r\n";
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(sdp));
    const auto& d = parser.Description();
    const auto* v = d.Media(SDP_MEDIA_VIDEO);
    EXPECT_EQ(v->port, 2000);
    EXPECT_EQ(v->protocol, "RTP/SAVP");
    EXPECT_EQ(v->control, "video2");
    EXPECT_EQ(v->connection, "239.1.1.1");  // kept from the first section
    EXPECT_EQ(v->encoding, "H264/90000");
    EXPECT_EQ(d.Media(SDP_MEDIA_AUDIO)->port, 70000 % 65536);
    EXPECT_EQ(d.Media(SDP_MEDIA_METADATA)->port, 0);  // "5004/2" is not all digits
    EXPECT_EQ(d.Media(SDP_MEDIA_METADATA)->control, "meta");
    EXPECT_EQ(d.Media(0), nullptr);

    // A new parse starts from an empty record.
    ASSERT_TRUE(parser.Parse("v=0\r\n"));
    EXPECT_TRUE(parser.Description().Media(SDP_MEDIA_VIDEO)->control.empty());
}

TEST(SDPResponseParser, ParameterSetEntries) {
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHw==\r\n"));
    EXPECT_TRUE(parser.Description().parameterSet1.empty());  // one entry stores nothing
    const std::string big = std::string(400, 'A');
    ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + big + ",aM48gA==\r\n"));
    EXPECT_TRUE(parser.Description().parameterSet1.empty());  // 300 bytes: too long
    EXPECT_EQ(parser.Description().parameterSet2.size(), 4u);
}

}  // namespace
