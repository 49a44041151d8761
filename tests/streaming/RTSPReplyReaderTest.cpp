#include "streaming/RTSPReplyReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentavo;

namespace {

// Feeds text in pieces of at most chunk bytes, each also limited by what the
// reader wants, as the client's reads are; then the connection "closes".
CRTSPReplyReader::State Feed(CRTSPReplyReader& reader, const std::string& text, size_t chunk, bool close) {
    size_t pos = 0;
    while (reader.GetState() == CRTSPReplyReader::READING && pos < text.size()) {
        const size_t n = std::min({chunk, reader.BytesWanted(), text.size() - pos});
        EXPECT_GT(n, 0u);
        reader.Append(text.data() + pos, n);
        pos += n;
    }
    return close ? reader.Finish() : reader.GetState();
}

const std::string kSdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n";

}  // namespace

TEST(RTSPReplyReader, ReadsHeadToItsBlankLineAndBodyToItsLength) {
    const std::string pad(600, 'p');
    const std::string body(CRTSPReplyReader::MAX_BODY_SIZE, 'b');
    const struct {
        const char* name;
        std::string text;
        bool close;
        CRTSPReplyReader::State state;
        std::string expected;  // empty: the text itself
    } cases[] = {
        {"plain", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", false, CRTSPReplyReader::COMPLETE, ""},
        {"body", "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(kSdp.size()) + "\r\n\r\n" + kSdp, false,
         CRTSPReplyReader::COMPLETE, ""},
        {"blank line after byte 512", "RTSP/1.0 200 OK\r\nX-Pad: " + pad + "\r\nContent-Length: 5\r\n\r\nhello",
         false, CRTSPReplyReader::COMPLETE, ""},
        {"length without blank", "RTSP/1.0 200 OK\r\ncontent-length:5\r\n\r\nhello", false,
         CRTSPReplyReader::COMPLETE, ""},
        {"length with tab", "RTSP/1.0 200 OK\r\nCONTENT-LENGTH:\t5 \r\n\r\nhello", false,
         CRTSPReplyReader::COMPLETE, ""},
        {"LF lines", "RTSP/1.0 200 OK\nContent-Length: 2\n\nok", false, CRTSPReplyReader::COMPLETE, ""},
        {"bytes past the body are not taken", "RTSP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nokRTSP/1.0", false,
         CRTSPReplyReader::COMPLETE, "RTSP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"},
        {"largest body", "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
         false, CRTSPReplyReader::COMPLETE, ""},
        {"body too large", "RTSP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size() + 1) + "\r\n\r\n",
         false, CRTSPReplyReader::FAILED, ""},
        {"head too large", "RTSP/1.0 200 OK\r\nX-Pad: " + std::string(70 * 1024, 'p') + "\r\n\r\n", false,
         CRTSPReplyReader::FAILED, ""},
        {"no blank line ever", std::string(CRTSPReplyReader::MAX_HEAD_SIZE + 10, 'x'), false,
         CRTSPReplyReader::FAILED, ""},
        {"malformed length", "RTSP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nhello", false, CRTSPReplyReader::FAILED,
         ""},
        {"closed inside the head", "RTSP/1.0 200 OK\r\nCSeq: 2\r\n", true, CRTSPReplyReader::COMPLETE, ""},
        {"closed inside the body", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf", true,
         CRTSPReplyReader::FAILED, ""},
        {"closed before anything", "", true, CRTSPReplyReader::FAILED, ""},
    };
    for (const auto& c : cases) {
        for (size_t chunk : {size_t(1), size_t(7), size_t(256), size_t(100000)}) {
            if (chunk == 1 && c.text.size() > 100000) continue;
            CRTSPReplyReader reader;
            EXPECT_EQ(Feed(reader, c.text, chunk, c.close), c.state) << c.name << " chunk " << chunk;
            if (c.state == CRTSPReplyReader::COMPLETE) {
                EXPECT_EQ(reader.Text(), c.expected.empty() ? c.text : c.expected) << c.name << " chunk " << chunk;
            }
            EXPECT_LE(reader.Text().size(), CRTSPReplyReader::MAX_HEAD_SIZE + CRTSPReplyReader::MAX_BODY_SIZE);
        }
    }
}

TEST(RTSPReplyReader, WaitsForABodyThatArrivesLater) {
    CRTSPReplyReader reader;
    const std::string head = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length:" + std::to_string(kSdp.size()) + "\r\n\r\n";
    EXPECT_EQ(reader.Append(head.data(), head.size()), CRTSPReplyReader::READING);
    EXPECT_EQ(reader.BytesWanted(), kSdp.size());
    EXPECT_EQ(reader.Append(kSdp.data(), kSdp.size()), CRTSPReplyReader::COMPLETE);
    EXPECT_EQ(reader.Text(), head + kSdp);
    EXPECT_EQ(reader.BytesWanted(), 0u);
}
