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

// No line the driver cannot read fails the description; only a text that
// is no description at all does.
TEST(SDPResponseParser, LineHandling) {
    const struct {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"empty", "", true},
        {"only line breaks", "\r\n\n\r", true},
        {"no description line at all", "<html>Not Found</html>\r\n", false},
        {"m= without words", "m=\r\n", true},
        {"m= with blanks only", "m=   \r\n", true},
        {"unknown media then fmtp", "m=text 0 RTP/AVP 98\r\na=fmtp:98 x=1\r\n", true},
        {"fmtp before any media", "a=fmtp:96 x=1\r\n", true},
        {"audio fmtp ignored", "m=audio 0 RTP/AVP 97\r\na=fmtp:97 config=1234\r\n", true},
        {"control without value", "m=video 0 RTP/AVP 96\r\na=control:\r\n", true},
        {"session-level control", "a=control:rtsp://cam/\r\n", true},
        {"rtpmap with one word", "m=video 0 RTP/AVP 96\r\na=rtpmap:96\r\n", true},
        {"IP6 connection", "m=video 0 RTP/AVP 96\r\nc=IN IP6 ::1\r\n", true},
        {"unknown address type", "m=video 0 RTP/AVP 96\r\nc=IN IPX 1.2.3.4\r\n", true},
        {"short connection", "m=video 0 RTP/AVP 96\r\nc=IN IP4\r\n", true},
        {"empty address", "m=video 0 RTP/AVP 96\r\nc=IN IP4 /16\r\n", true},
        {"LF line ends", "m=video 0 RTP/AVP 96\na=control:track1\n", true},
    };
    for (const auto& c : cases) {
        CSDPResponseParser parser;
        EXPECT_EQ(parser.Parse(c.text), c.ok) << c.name;
    }
}

// Descriptions as cameras write them: the video section must come out whole
// whatever surrounds it.
TEST(SDPResponseParser, VideoSectionOfFieldDescriptions) {
    const std::string video =
        "m=video 0 RTP/AVP 96\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 packetization-mode=1;profile-level-id=42001F;sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n"
        "a=control:trackID=1\r\n";
    const Bytes sps = {0x67, 0x42, 0x00, 0x1F, 0x95, 0xA8, 0x14, 0x01, 0x6E, 0x40}, pps = {0x68, 0xCE, 0x3C, 0x80};
    auto replace = [](std::string s, const std::string& from, const std::string& to) {
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const struct {
        const char* name;
        std::string text;
        std::string control;
        std::string encoding;
        Bytes set1, set2;
        std::string connection;
    } cases[] = {
        {"plain", video, "trackID=1", "H264/90000", sps, pps, ""},
        {"broken session lines",
         "o=- 1001 1 IN\r\nc=IN\r\nc=IN c=IN IP4 0.0.0.0\r\nc=IN IPV4 1.2.3.4\r\n"
         "o=- -5 18446744073709551615 IN IP4 1.2.3.4\r\nt=now-\r\n" + video,
         "trackID=1", "H264/90000", sps, pps, ""},
        {"no v=, o= or t=", video, "trackID=1", "H264/90000", sps, pps, ""},
        {"tabs and blanks before the line ends, LF only",
         "v=0 \nm=video 0 RTP/AVP 96\t\na=rtpmap:96 H264/90000 \t\na=control:trackID=1  \n", "trackID=1",
         "H264/90000", {}, {}, ""},
        {"broken media connection lines", replace(video, "a=control", "c=IN c=IN IP4 10.0.0.9/64\r\na=control"),
         "trackID=1", "H264/90000", sps, pps, "10.0.0.9"},
        {"audio first, then video, metadata, back channel and a vendor track",
         "v=0\r\nm=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:trackID=0\r\n" + video +
             "m=application 0 RTP/AVP 107\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\na=control:trackID=3\r\n"
             "m=audio 0 RTP/AVP 8\r\na=sendonly\r\na=control:trackID=4\r\n"
             "m=application/TP-LINK 0 RTP/AVP smart/1/90000\r\na=rtpmap:95 smart/1/90000\r\n"
             "a=fmtp:95 x\r\na=control:track5\r\n",
         "trackID=1", "H264/90000", sps, pps, ""},
        {"a second video section is not the video",
         video + "m=video 0 RTP/AVP 97\r\na=rtpmap:97 JPEG/90000\r\na=fmtp:97 sprop-parameter-sets=AA==,AA==\r\n"
                 "a=control:trackID=9\r\n",
         "trackID=1", "H264/90000", sps, pps, ""},
        {"bogus profile-level-id and frame rate",
         replace(replace(video, "42001F", "ZZZZ"), "a=control", "a=framerate:0S\r\na=control"), "trackID=1",
         "H264/90000", sps, pps, ""},
        {"fmtp and rtpmap for another payload type",
         replace(video, "a=control", "a=rtpmap:97 H265/90000\r\na=fmtp:97 sprop-parameter-sets=QAE=,QgE=\r\na=control"),
         "trackID=1", "H264/90000", sps, pps, ""},
        {"static payload type for H.264",
         "m=video 0 RTP/AVP 35\r\na=rtpmap:35 H264/90000\r\na=fmtp:35 sprop-parameter-sets=Z0IAH5WoFAFuQA==,aM48gA==\r\n",
         "", "H264/90000", sps, pps, ""},
        {"absolute control with a query",
         replace(video, "trackID=1", "rtsp://192.168.5.106:554/Streaming/Channels/101/trackID=1?transportmode=unicast"),
         "rtsp://192.168.5.106:554/Streaming/Channels/101/trackID=1?transportmode=unicast", "H264/90000", sps, pps,
         ""},
        {"blank after the control's colon", replace(video, "control:", "control: "), "trackID=1", "H264/90000", sps,
         pps, ""},
        {"missing PPS", replace(video, ",aM48gA==", ""), "trackID=1", "H264/90000", sps, {}, ""},
        {"empty sprop", replace(video, "Z0IAH5WoFAFuQA==,aM48gA==", ""), "trackID=1", "H264/90000", {}, {}, ""},
        {"start codes in the base64 and zero padding",
         replace(video, "Z0IAH5WoFAFuQA==,aM48gA==", "AAAAAWdCAB+VqBQBbkAAAA==,AAABaM48gAA="), "trackID=1",
         "H264/90000", sps, pps, ""},
        {"both sets in one entry", replace(video, "Z0IAH5WoFAFuQA==,aM48gA==", "Z0IAH5WoFAFuQAAAAAFozjyA"),
         "trackID=1", "H264/90000", sps, pps, ""},
        {"sets in the wrong order", replace(video, "Z0IAH5WoFAFuQA==,aM48gA==", "aM48gA==,Z0IAH5WoFAFuQA=="),
         "trackID=1", "H264/90000", sps, pps, ""},
    };
    for (const auto& c : cases) {
        CSDPResponseParser parser;
        EXPECT_TRUE(parser.Parse(c.text)) << c.name;
        const auto& d = parser.Description();
        const auto* v = d.Media(SDP_MEDIA_VIDEO);
        EXPECT_EQ(v->control, c.control) << c.name;
        EXPECT_EQ(v->encoding, c.encoding) << c.name;
        EXPECT_EQ(v->connection, c.connection) << c.name;
        EXPECT_EQ(d.parameterSet1, c.set1) << c.name;
        EXPECT_EQ(d.parameterSet2, c.set2) << c.name;
    }
}

TEST(SDPResponseParser, FirstSectionOfEachKindCounts) {
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
    EXPECT_EQ(v->port, 1000);
    EXPECT_EQ(v->protocol, "RTP/AVP");
    EXPECT_EQ(v->control, "video1");
    EXPECT_EQ(v->connection, "239.1.1.1");
    EXPECT_EQ(v->encoding, "H264/90000");
    EXPECT_EQ(v->payloadTypes, (Bytes{96}));
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
    EXPECT_EQ(parser.Description().parameterSet1, (Bytes{0x67, 0x42, 0x00, 0x1F}));  // the PPS comes in band
    const std::string big = std::string(400, 'A');
    ASSERT_TRUE(parser.Parse("m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + big + ",aM48gA==\r\n"));
    EXPECT_TRUE(parser.Description().parameterSet1.empty());  // 300 bytes: too long
    EXPECT_EQ(parser.Description().parameterSet2.size(), 4u);
}

}  // namespace
