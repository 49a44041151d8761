// The parsers against real encoder output: ffmpeg encodes H.264, MPEG-4 and
// Motion JPEG, its RTP muxer packetizes (recorded by
// scripts/make-test-streams.sh into $HALVENCAP_STREAMS), our depacketizers
// rebuild frames through the test host's frame factory, and ffmpeg must
// decode what was delivered - also after packets were dropped or reordered.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "parsers/FrameCodes.h"
#include "parsers/FrameDelivery.h"
#include "parsers/H264RTPMediaParser.h"
#include "parsers/JpegMediaParser.h"
#include "parsers/Mpeg4RTPMediaParser.h"
#include "parsers/ParserTestClient.h"
#include "streaming/RTPPacket.h"
#include "streaming/RTPReorderBuffer.h"
#include "streaming/SDPResponseParser.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace zentavo;
using namespace halvencap_test;

namespace {

using Bytes = std::vector<uint8_t>;

struct StreamInfo {
    std::string name, kind, codec;
    uint32_t width = 0, height = 0, frames = 0, gop = 0;
};

std::string StreamsDir() {
    const char* dir = std::getenv("HALVENCAP_STREAMS");
    return dir ? dir : "";
}

#ifdef _WIN32
#define REQUIRE_STREAMS() GTEST_SKIP() << "real-stream tests run natively only (they call ffmpeg)"
#else
#define REQUIRE_STREAMS()                                                                         \
    if (StreamsDir().empty())                                                                     \
    GTEST_SKIP() << "HALVENCAP_STREAMS is not set: run scripts/make-test-streams.sh DIR and set " \
                    "HALVENCAP_STREAMS=DIR"
#endif

std::vector<StreamInfo> Streams(const std::string& kind) {
    std::vector<StreamInfo> out;
    std::ifstream in(StreamsDir() + "/streams.txt");
    StreamInfo s;
    while (in >> s.name >> s.kind >> s.codec >> s.width >> s.height >> s.frames >> s.gop)
        if (s.kind == kind) out.push_back(s);
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> ReadDatagrams(const std::string& path) {
    const Bytes all = ReadFile(path);
    std::vector<Bytes> out;
    size_t pos = 0;
    while (pos + 4 <= all.size()) {
        const size_t n = (size_t(all[pos]) << 24) | (size_t(all[pos + 1]) << 16) | (size_t(all[pos + 2]) << 8) |
                         all[pos + 3];
        pos += 4;
        if (pos + n > all.size()) break;
        out.emplace_back(all.begin() + pos, all.begin() + pos + n);
        pos += n;
    }
    return out;
}

// A scratch directory removed with its contents at the end of the test.
class TempDir {
public:
    TempDir() {
#ifndef _WIN32
        char name[] = "/tmp/halvencap-parsers-XXXXXX";
        if (mkdtemp(name)) m_path = name;
#endif
    }
    ~TempDir() {
        if (!m_path.empty()) std::system(("rm -rf '" + m_path + "'").c_str());
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string RunCapture(const std::string& command) {
    std::string out;
#ifndef _WIN32
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
#endif
    return out;
}

struct DecodeResult {
    bool clean = false;      // decoded and nothing reported
    std::string errors;
    uint32_t frames = 0;     // frames ffprobe counted
    uint32_t width = 0, height = 0;
};

// ffprobe decodes every frame to count them and reports decoding errors on
// its error output.
DecodeResult Decode(const std::string& path, const std::string& format) {
    DecodeResult r;
    const std::string err = path + ".err";
    std::istringstream probe(RunCapture("ffprobe -v error -f " + format +
                                        " -count_frames -select_streams v:0 -show_entries "
                                        "stream=width,height,nb_read_frames -of csv=p=0 '" +
                                        path + "' 2>'" + err + "'"));
    char comma;
    probe >> r.width >> comma >> r.height >> comma >> r.frames;
    const Bytes e = ReadFile(err);
    r.errors.assign(e.begin(), e.end());
    r.clean = probe && r.errors.empty();
    return r;
}

// The frames as one elementary stream. Each H.264 frame ends with the access
// unit delimiter that opens the next access unit; at the end of the file
// there is none, so the last delimiter is left out there.
void WriteFrames(const std::string& path, const std::vector<FrameRecord>& frames, bool h264 = false) {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        size_t n = f.data.size();
        if (h264 && i + 1 == frames.size() && n >= 5) n -= 5;
        out.write(reinterpret_cast<const char*>(f.data.data()), static_cast<std::streamsize>(n));
    }
}

enum class Damage { None, Drop, Reorder };

// Deterministic damage: about percent of the packets dropped, or swapped
// with their successor.
std::vector<Bytes> Damaged(std::vector<Bytes> packets, Damage damage, unsigned percent, unsigned seed) {
    if (damage == Damage::None) return packets;
    uint32_t state = seed * 2654435761u + 1;
    auto chance = [&] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % 100 < percent;
    };
    std::vector<Bytes> out;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (!chance()) {
            out.push_back(packets[i]);
        } else if (damage == Damage::Reorder && i + 1 < packets.size()) {
            out.push_back(packets[i + 1]);
            out.push_back(packets[i]);
            ++i;
        }
    }
    return out;
}

struct Delivery {
    std::vector<FrameRecord> frames;
    std::vector<uint32_t> timestamps;
    size_t created = 0, released = 0, overruns = 0;
    uint32_t firstTimestamp = 0;
};

// reorder: through the reorder buffer with the described payload types, as
// the channels hand packets on.
Delivery Depacketize(const StreamInfo& s, const std::vector<Bytes>& datagrams, bool reorder = false) {
    FakeDriver driver;
    TestFrameFactory factory;
    ParserTestClient client;
    driver.hostContext = &factory;

    const Bytes sdpBytes = ReadFile(StreamsDir() + "/" + s.name + ".sdp");
    CSDPResponseParser sdp;
    EXPECT_TRUE(sdp.Parse(std::string(sdpBytes.begin(), sdpBytes.end()))) << s.name;

    std::unique_ptr<CRTPMediaParser> parser;
    if (s.codec == "h264")
        parser.reset(new CH264RTPMediaParser(&driver));
    else
        parser.reset(new CMpeg4RTPMediaParser(&driver));
    parser->SetClient(&client);
    const auto& d = sdp.Description();
    parser->SetParameterSets(d.parameterSet1, d.parameterSet2, d.configuration);

    Delivery out;
    bool first = true;
    CRTPReorderBuffer buffer;
    buffer.SetPayloadTypes(d.Media(1)->payloadTypes);
    for (const Bytes& datagram : datagrams) {
        CRTPPacket packet;
        if (!packet.Parse(static_cast<uint32_t>(datagram.size()), datagram.data())) continue;
        if (first) out.firstTimestamp = packet.Timestamp();
        first = false;
        if (reorder)
            buffer.Push(packet, [&](const CRTPPacket& p) { parser->ProcessPacket(p); });
        else
            parser->ProcessPacket(packet);
    }
    out.frames = client.offered;
    out.timestamps = client.timestamps;
    out.created = factory.Created();
    out.released = factory.Released();
    out.overruns = factory.Overruns();
    EXPECT_TRUE(driver.Lines().empty()) << s.name << ": " << driver.Lines()[0].text;
    return out;
}

void CheckFrames(const StreamInfo& s, const Delivery& d, const std::string& label) {
    const bool h264 = s.codec == "h264";
    const uint32_t key = h264 ? FRAME_CODE_H264 : FRAME_CODE_DIVX;
    const uint32_t other = h264 ? FRAME_CODE_I264 : FRAME_CODE_DIVI;
    EXPECT_EQ(d.created, d.frames.size()) << label;
    EXPECT_EQ(d.released, d.created) << label;
    EXPECT_EQ(d.overruns, 0u) << label;
    if (d.frames.empty()) return;
    EXPECT_EQ(d.frames[0].code, key) << label << ": the first delivered frame must be a key frame";
    for (size_t i = 0; i < d.frames.size(); ++i) {
        const FrameRecord& f = d.frames[i];
        EXPECT_TRUE(f.code == key || f.code == other) << label << " frame " << i;
        EXPECT_EQ(f.createCode, f.code) << label << " frame " << i;
        EXPECT_EQ(f.calls, "WHRSCTA") << label << " frame " << i;
        EXPECT_EQ(f.width, s.width) << label << " frame " << i;
        EXPECT_EQ(f.height, s.height) << label << " frame " << i;
        EXPECT_EQ(f.resolutionClass, CPictureSize(s.width, s.height).ResolutionClass());
        EXPECT_EQ(f.dataSize, f.data.size());
        EXPECT_EQ(f.capacity, FrameCapacityFor(f.dataSize)) << label << " frame " << i;
        if (h264) {
            ASSERT_GE(f.data.size(), 5u);
            EXPECT_EQ(Bytes(f.data.end() - 5, f.data.end()), (Bytes{0, 0, 1, 9, 0x30})) << label << " frame " << i;
        }
    }
}

class RealRtpStreams : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_STREAMS();
        streams = Streams("rtp");
        ASSERT_FALSE(streams.empty()) << "no RTP streams listed in " << StreamsDir() << "/streams.txt";
        ASSERT_FALSE(scratch.Path().empty());
    }
    std::vector<StreamInfo> streams;
    TempDir scratch;
};

TEST_F(RealRtpStreams, LosslessStreamsDecodeCompletely) {
    for (const StreamInfo& s : streams) {
        SCOPED_TRACE(s.name);
        const auto datagrams = ReadDatagrams(StreamsDir() + "/" + s.name + ".rtp");
        ASSERT_FALSE(datagrams.empty());
        const Delivery d = Depacketize(s, datagrams);
        ASSERT_FALSE(d.frames.empty());
        CheckFrames(s, d, s.name);

        // Every frame from the first delivered key frame on arrives. The
        // muxer stamps frame i with first + i * 3600 (25 frames/s, 90 kHz).
        const uint32_t firstIndex = (d.timestamps[0] - d.firstTimestamp) / 3600;
        EXPECT_EQ(firstIndex % s.gop, 0u);
        EXPECT_LE(firstIndex, s.gop);  // at most the very first key frame is lost
        EXPECT_EQ(d.frames.size(), s.frames - firstIndex);
        for (size_t i = 0; i < d.timestamps.size(); ++i) {
            EXPECT_EQ(d.timestamps[i] - d.firstTimestamp, (firstIndex + i) * 3600u) << "frame " << i;
            const bool key = (firstIndex + i) % s.gop == 0;
            EXPECT_EQ(d.frames[i].code == FRAME_CODE_H264 || d.frames[i].code == FRAME_CODE_DIVX, key)
                << "frame " << i;
        }

        const std::string format = s.codec == "h264" ? "h264" : "m4v";
        const std::string path = scratch.Path() + "/" + s.name + "." + format;
        WriteFrames(path, d.frames, s.codec == "h264");
        const DecodeResult r = Decode(path, format);
        EXPECT_TRUE(r.clean) << r.errors;
        EXPECT_EQ(r.frames, d.frames.size());
        EXPECT_EQ(r.width, s.width);
        EXPECT_EQ(r.height, s.height);
    }
}

TEST_F(RealRtpStreams, DamagedStreamsDeliverOnlyWholeFrames) {
    const struct {
        Damage damage;
        unsigned percent;
        const char* label;
    } variants[] = {{Damage::Drop, 1, "1% dropped"},
                    {Damage::Drop, 5, "5% dropped"},
                    {Damage::Reorder, 1, "1% reordered"},
                    {Damage::Reorder, 5, "5% reordered"}};
    for (const StreamInfo& s : streams) {
        const auto datagrams = ReadDatagrams(StreamsDir() + "/" + s.name + ".rtp");
        for (const auto& v : variants) {
            for (unsigned seed = 1; seed <= 2; ++seed) {
                const std::string label = s.name + ", " + v.label + ", seed " + std::to_string(seed);
                SCOPED_TRACE(label);
                const std::vector<Bytes> damaged = Damaged(datagrams, v.damage, v.percent, seed);
                const Delivery d = Depacketize(s, damaged);
                CheckFrames(s, d, label);
                if (damaged != datagrams) {
                    EXPECT_LT(d.frames.size(), s.frames);
                }
                if (d.frames.empty()) continue;
                const std::string format = s.codec == "h264" ? "h264" : "m4v";
                const std::string path = scratch.Path() + "/damaged." + format;
                WriteFrames(path, d.frames, s.codec == "h264");
                const DecodeResult r = Decode(path, format);
                EXPECT_TRUE(r.clean) << r.errors;
                EXPECT_EQ(r.frames, d.frames.size());
            }
        }
    }
}

// Rewrites a real stream the way some senders get it wrong; the delivered
// frames must still decode, and none may be lost to it.
std::vector<Bytes> Quirk(const std::vector<Bytes>& datagrams, int quirk) {
    std::vector<Bytes> out;
    uint32_t lastTimestamp = 0;
    uint8_t ssrc = 0;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        Bytes d = datagrams[i];
        if (d.size() < 14) continue;
        const uint32_t timestamp = uint32_t(d[4]) << 24 | uint32_t(d[5]) << 16 | uint32_t(d[6]) << 8 | d[7];
        uint8_t* payload = &d[12];
        const uint8_t type = payload[0] & 0x1F;
        if (quirk == 0) d[1] &= 0x7F;  // no marker bits
        if (quirk == 1 && type == 28) {
            payload[1] |= 0x20;                                     // reserved bit
            if (!(payload[1] & 0x80)) payload[1] = (payload[1] & 0xE0) | 1;  // another type
        }
        if (quirk == 2) {
            // A new SSRC from the first packet of each key frame on.
            const uint8_t inner = type == 24 && d.size() > 15 ? (d[15] & 0x1F) : type == 28 ? (payload[1] & 0x1F) : type;
            if (timestamp != lastTimestamp && (inner == 5 || inner == 7)) ++ssrc;
            d[11] = ssrc;
        }
        if (quirk == 3 && i % 7 == 3) {
            // An undeclared payload type repeating the stream's numbers.
            Bytes extra = d;
            extra[1] = uint8_t((extra[1] & 0x80) | 107);
            out.push_back(extra);
        }
        lastTimestamp = timestamp;
        out.push_back(d);
    }
    return out;
}

TEST_F(RealRtpStreams, SenderQuirksStillDecode) {
    const struct {
        int quirk;
        const char* label;
        size_t framesHeldBack;
    } quirks[] = {{0, "marker never set", 1},
                  {1, "reserved bit and changing types in FU headers", 0},
                  {2, "SSRC changing at every key frame", 0},
                  {3, "undeclared payload type mixed in", 0}};
    for (const StreamInfo& s : streams) {
        if (s.codec != "h264") continue;
        const auto datagrams = ReadDatagrams(StreamsDir() + "/" + s.name + ".rtp");
        const Delivery clean = Depacketize(s, datagrams);
        for (const auto& q : quirks) {
            const std::string label = s.name + ", " + q.label;
            SCOPED_TRACE(label);
            const Delivery d = Depacketize(s, Quirk(datagrams, q.quirk), true);
            CheckFrames(s, d, label);
            ASSERT_EQ(d.frames.size() + q.framesHeldBack, clean.frames.size());
            for (size_t i = 0; i < d.frames.size(); ++i) EXPECT_EQ(d.frames[i].data, clean.frames[i].data) << i;
            const std::string path = scratch.Path() + "/quirk.h264";
            WriteFrames(path, d.frames, true);
            const DecodeResult r = Decode(path, "h264");
            EXPECT_TRUE(r.clean) << r.errors;
            EXPECT_EQ(r.frames, d.frames.size());
        }
    }
}

TEST(RealMjpegStreams, PicturesInRandomChunksDecode) {
    REQUIRE_STREAMS();
    const auto streams = Streams("mjpeg");
    ASSERT_FALSE(streams.empty());
    TempDir scratch;
    for (const StreamInfo& s : streams) {
        SCOPED_TRACE(s.name);
        const Bytes body = ReadFile(StreamsDir() + "/" + s.name + ".mjpeg");
        ASSERT_FALSE(body.empty());
        for (unsigned seed = 1; seed <= 4; ++seed) {
            FakeDriver driver;
            TestFrameFactory factory;
            ParserTestClient client;
            driver.hostContext = &factory;
            CJpegMediaParser parser(&driver);
            parser.SetClient(&client);
            uint32_t state = seed;
            for (size_t pos = 0; pos < body.size();) {
                state = state * 1664525u + 1013904223u;
                const size_t n = std::min<size_t>(1 + (state >> 8) % (seed == 1 ? 8 : 4096), body.size() - pos);
                parser.ProcessData(body.data() + pos, n);
                pos += n;
            }
            ASSERT_EQ(client.offered.size(), s.frames) << "seed " << seed;
            EXPECT_EQ(factory.Overruns(), 0u);
            EXPECT_EQ(factory.Released(), factory.Created());
            for (const auto& f : client.offered) {
                EXPECT_EQ(f.code, FRAME_CODE_JPEG);
                EXPECT_EQ(f.width, s.width);
                EXPECT_EQ(f.height, s.height);
                EXPECT_EQ(f.capacity, f.dataSize);
                ASSERT_GE(f.data.size(), 4u);
                EXPECT_EQ(f.data[0], 0xFF);
                EXPECT_EQ(f.data[1], 0xD8);
                EXPECT_EQ(f.data[f.data.size() - 2], 0xFF);
                EXPECT_EQ(f.data.back(), 0xD9);
            }
            if (seed == 1) {
                const std::string path = scratch.Path() + "/" + s.name + ".mjpeg";
                WriteFrames(path, client.offered);
                const DecodeResult r = Decode(path, "mjpeg");
                EXPECT_TRUE(r.clean) << r.errors;
                EXPECT_EQ(r.frames, s.frames);
                EXPECT_EQ(r.width, s.width);
            }
        }
    }
}

}  // namespace
