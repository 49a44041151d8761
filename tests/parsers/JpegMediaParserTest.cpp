#include "parsers/JpegMediaParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "parsers/FrameCodes.h"
#include "parsers/ParserTestClient.h"
#include "support/FakeDriver.h"
#include "support/TestFrameFactory.h"

using namespace zentavo;
using halvencap_test::FakeDriver;
using halvencap_test::ParserTestClient;
using halvencap_test::TestFrameFactory;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Append(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A small but structurally complete baseline picture: SOI, APP0, SOF0 with
// the given size, scan data with stuffed 0xFF and a fill run, EOI.
Bytes Picture(uint16_t width, uint16_t height, uint8_t seed = 1) {
    Bytes p = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    const Bytes sof = {0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(height >> 8), uint8_t(height),
                       uint8_t(width >> 8), uint8_t(width), 0x03, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    p = Append(p, sof);
    p = Append(p, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
    for (int i = 0; i < 40; ++i) p.push_back(uint8_t(seed * 7 + i * 13) & 0x7F);
    p = Append(p, {0xFF, 0x00, 0x12, 0xFF, 0xD0, 0x34, 0xFF, 0xFF, 0xFF, 0xD9});
    return p;
}

Bytes Part(const Bytes& picture) {
    Bytes part = Text("--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                      std::to_string(picture.size()) + "\r\n\r\n");
    part = Append(part, picture);
    return Append(part, Text("\r\n"));
}

struct Harness {
    Harness() {
        driver.hostContext = &factory;
        parser.SetClient(&client);
    }
    void Feed(const Bytes& b) { parser.ProcessData(b.data(), b.size()); }
    void FeedSplit(const Bytes& b, size_t chunk) {
        for (size_t i = 0; i < b.size(); i += chunk)
            parser.ProcessData(b.data() + i, std::min(chunk, b.size() - i));
    }
    FakeDriver driver;
    TestFrameFactory factory;
    ParserTestClient client;
    CJpegMediaParser parser{&driver};
};

TEST(JpegMediaParser, WholePictureInOneChunkWithBoundaryText) {
    Harness h;
    const Bytes picture = Picture(640, 480);
    h.Feed(Part(picture));
    ASSERT_EQ(h.client.offered.size(), 1u);
    const auto& f = h.client.offered[0];
    EXPECT_EQ(f.data, picture);
    EXPECT_EQ(f.code, FRAME_CODE_JPEG);
    EXPECT_EQ(f.createCode, FRAME_CODE_JPEG);
    EXPECT_EQ(f.capacity, picture.size());  // exact, not stepped
    EXPECT_EQ(f.width, 640u);
    EXPECT_EQ(f.height, 480u);
    EXPECT_EQ(f.resolutionClass, 4u);
    EXPECT_EQ(f.dataSize, picture.size());
    EXPECT_TRUE(f.captureTimeSet);
    EXPECT_EQ(f.sourceName, "Halvencap");
    EXPECT_EQ(h.client.timestamps, std::vector<uint32_t>{0});
    EXPECT_EQ(h.factory.Created(), 1u);
    EXPECT_EQ(h.factory.Released(), 1u);
    EXPECT_EQ(h.factory.Overruns(), 0u);
}

// TCP may cut the body anywhere. Every cut into two chunks, and one-byte
// chunks, must give exactly the pictures of the unsplit stream - including
// cuts between a marker's 0xFF and its code byte, and inside the Start Of
// Frame header.
TEST(JpegMediaParser, EverySplitPointGivesTheSamePictures) {
    const Bytes a = Picture(352, 288, 1), b = Picture(704, 576, 2), c = Picture(176, 144, 3);
    const Bytes stream = Append(Append(Part(a), Part(b)), Part(c));
    const std::vector<std::pair<Bytes, uint32_t>> expected = {{a, 352}, {b, 704}, {c, 176}};

    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Harness h;
        h.parser.ProcessData(stream.data(), cut);
        h.parser.ProcessData(stream.data() + cut, stream.size() - cut);
        ASSERT_EQ(h.client.offered.size(), 3u) << "cut at " << cut;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(h.client.offered[i].data, expected[i].first) << "cut at " << cut;
            EXPECT_EQ(h.client.offered[i].width, expected[i].second) << "cut at " << cut;
        }
    }
    for (size_t chunk : {1u, 2u, 3u, 7u, 64u}) {
        Harness h;
        h.FeedSplit(stream, chunk);
        ASSERT_EQ(h.client.offered.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(h.client.offered[1].data, b);
        EXPECT_EQ(h.client.offered[1].height, 576u);
    }
}

TEST(JpegMediaParser, PictureSpreadOverChunksIsTheirConcatenation) {
    Harness h;
    const Bytes picture = Picture(1280, 1024);
    h.FeedSplit(Part(picture), 11);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, picture);
    EXPECT_EQ(h.client.offered[0].resolutionClass, 4u);
}

TEST(JpegMediaParser, NoStartOfFrameMeansNoFrames) {
    Harness h;
    Bytes picture = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xC2, 0, 0x11, 8, 0, 16, 0, 16, 0xFF, 0xD9};
    h.Feed(Part(picture));
    h.Feed(Part(picture));
    EXPECT_TRUE(h.client.offered.empty());
    EXPECT_EQ(h.factory.Created(), 0u);
}

TEST(JpegMediaParser, EndOfImageWithoutStartDeliversNothing) {
    Harness h;
    h.Feed(Picture(640, 480));  // learn a size
    h.client.offered.clear();
    h.Feed({0x10, 0x20, 0xFF, 0xD9, 0x30});
    EXPECT_TRUE(h.client.offered.empty());
}

TEST(JpegMediaParser, StartOfImageInsidePictureRestartsCollection) {
    Harness h;
    const Bytes thumb = Picture(160, 120, 5);
    Bytes outer = {0xFF, 0xD8, 0xFF, 0xE1, 0, 4, 1, 2};
    outer = Append(outer, thumb);
    h.Feed(outer);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].data, thumb);
    EXPECT_EQ(h.client.offered[0].resolutionClass, 1u);
}

TEST(JpegMediaParser, StartOfFrameOutsidePictureSetsTheSizeForLaterPictures) {
    Harness h;
    h.Feed({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x20, 0x01, 0x60, 0, 0});
    // A progressive picture: its own Start Of Frame (C2) gives no size.
    const Bytes progressive = {0xFF, 0xD8, 0xFF, 0xC2, 0x00, 0x0B, 8, 0, 16, 0, 16, 1, 1, 0x11, 0,
                               0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0, 0x55, 0x66, 0xFF, 0xD9};
    h.Feed(progressive);
    ASSERT_EQ(h.client.offered.size(), 1u);
    EXPECT_EQ(h.client.offered[0].width, 352u);
    EXPECT_EQ(h.client.offered[0].height, 288u);
    EXPECT_EQ(h.client.offered[0].data, progressive);
}

TEST(JpegMediaParser, MarkersThatGarbageMakesByChanceDeliverNothing) {
    // Each span runs from FF D8 to FF D9 as random bytes can; none has a
    // header that walks from Start Of Image to Start Of Scan.
    const struct {
        const char* name;
        Bytes span;
    } cases[] = {
        {"no marker after SOI", {0xFF, 0xD8, 0x12, 0x34, 0xFF, 0xC0, 0, 0x11, 8, 1, 0, 1, 0, 0xFF, 0xD9}},
        {"segment length runs past the end", {0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00, 1, 2, 3, 0xFF, 0xD9}},
        {"segment ends off a marker", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 1, 2, 0x77, 0xDA, 0xFF, 0xD9}},
        {"scan without a frame header", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 1, 2, 0xFF, 0xDA, 0, 2, 9, 0xFF, 0xD9}},
        {"length below two", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x01, 0xFF, 0xDA, 0, 2, 0xFF, 0xD9}},
        {"headers but never a scan", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x04, 1, 2, 0xFF, 0xD9}},
    };
    Harness h;
    const Bytes good = Picture(640, 480);
    h.Feed(Part(good));
    for (const auto& c : cases) h.Feed(Append(Text("junk"), c.span));
    h.Feed(Part(good));
    ASSERT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.client.offered[1].data, good);
    EXPECT_EQ(h.parser.DamagedPictures(), std::size(cases));
    // One warning for the run of damaged pictures, not one per picture.
    EXPECT_EQ(h.driver.CountContaining("zentavo::CJpegMediaParser::DeliverPicture: Damaged JPEG picture dropped, "
                                       "device 127.0.0.1:80"),
              1u);
    for (const auto& c : cases)
        EXPECT_FALSE(CJpegMediaParser::HeadIsWellFormed(c.span.data(), c.span.size())) << c.name;
    EXPECT_TRUE(CJpegMediaParser::HeadIsWellFormed(good.data(), good.size()));
}

TEST(JpegMediaParser, NoClientNoFactoryOrNoFrameDropsSilently) {
    {
        FakeDriver driver;
        TestFrameFactory factory;
        driver.hostContext = &factory;
        CJpegMediaParser parser(&driver);
        const Bytes p = Part(Picture(640, 480));
        parser.ProcessData(p.data(), p.size());
        EXPECT_EQ(factory.Created(), 0u);
    }
    {
        Harness h;
        h.driver.hostContext = nullptr;
        h.Feed(Part(Picture(640, 480)));
        EXPECT_TRUE(h.client.offered.empty());
    }
    {
        Harness h;
        h.factory.SetFailCreate(true);
        h.Feed(Part(Picture(640, 480)));
        EXPECT_TRUE(h.client.offered.empty());
        EXPECT_TRUE(h.driver.Lines().empty());
    }
}

TEST(JpegMediaParser, RefusedFrameIsReleasedOnceAndParsingGoesOn) {
    Harness h;
    h.client.accept = false;
    h.Feed(Part(Picture(640, 480)));
    h.client.accept = true;
    h.Feed(Part(Picture(640, 480)));
    EXPECT_EQ(h.client.offered.size(), 2u);
    EXPECT_EQ(h.factory.Created(), 2u);
    EXPECT_EQ(h.factory.Released(), 2u);
    EXPECT_EQ(h.factory.BadReleases(), 0u);
}

TEST(JpegMediaParser, FrameWithoutDataAreaIsReleasedNotWritten) {
    Harness h;
    h.factory.SetNullDataArea(true);
    h.Feed(Part(Picture(640, 480)));
    EXPECT_TRUE(h.client.offered.empty());
    EXPECT_EQ(h.factory.Released(), 1u);
}

TEST(JpegMediaParser, OverflowLogsOncePerChunkAndResumesAtNextPicture) {
    Harness h;
    const Bytes start = Picture(640, 480);
    Bytes head(start.begin(), start.begin() + 20);  // SOI and APP0, no EOI
    h.Feed(head);
    const Bytes filler(4u << 20, 0x11);
    h.Feed(filler);
    h.Feed(filler);
    EXPECT_EQ(h.driver.CountContaining("Frame buffer overflow detected"), 0u);
    h.Feed(filler);  // now above 10 MiB
    EXPECT_EQ(h.driver.CountContaining("zentavo::CHttpMediaParser::CheckBufferSize: Frame buffer overflow "
                                       "detected, device 127.0.0.1:80"),
              1u);
    EXPECT_FALSE(h.parser.InPicture());
    h.Feed(filler);  // not collected any more
    EXPECT_EQ(h.driver.CountContaining("Frame buffer overflow"), 1u);
    h.Feed(Part(Picture(640, 480)));
    EXPECT_EQ(h.client.offered.size(), 1u);
    ASSERT_FALSE(h.driver.Lines().empty());
    EXPECT_EQ(h.driver.Lines()[0].level, LOG_ERROR);
}

TEST(JpegMediaParser, EmptyAndNullChunksAreHarmless) {
    Harness h;
    h.parser.ProcessData(nullptr, 10);
    h.parser.ProcessData(nullptr, 0);
    const Bytes p = Part(Picture(640, 480));
    h.parser.ProcessData(p.data(), 0);
    h.Feed(p);
    EXPECT_EQ(h.client.offered.size(), 1u);
}

TEST(PictureSize, ResolutionClass) {
    const struct {
        uint32_t w, h, cls;
    } cases[] = {{176, 144, 1}, {199, 100, 1}, {200, 100, 2}, {352, 288, 2}, {399, 100, 2},
                 {704, 288, 3}, {704, 576, 4}, {640, 480, 4}, {1280, 1024, 4}, {1023, 500, 3},
                 {1024, 100, 4}, {800, 400, 4}, {0, 0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(CPictureSize(c.w, c.h).ResolutionClass(), c.cls) << c.w << "x" << c.h;
}

TEST(TestFrameFactory, DetectsWritesBeyondCapacityAndBadReleases) {
    TestFrameFactory factory;
    factory.SetKeepData(true);
    auto* ok = factory.CreateFrame(FRAME_CODE_JPEG, 8, "x");
    std::memset(ok->GetDataArea(), 1, 8);
    ok->SetDataSize(8);
    auto* bad = factory.CreateFrame(FRAME_CODE_JPEG, 8, "x");
    std::memset(bad->GetDataArea(), 1, 9);
    auto* big = factory.CreateFrame(FRAME_CODE_JPEG, 8, "x");
    big->SetDataSize(9);
    EXPECT_EQ(factory.Outstanding(), 3u);
    factory.ReleaseFrame(ok);
    factory.ReleaseFrame(bad);
    factory.ReleaseFrame(big);
    factory.ReleaseFrame(ok);
    EXPECT_EQ(factory.Overruns(), 2u);
    EXPECT_EQ(factory.BadReleases(), 1u);
    EXPECT_EQ(factory.Released(), 3u);
    ASSERT_EQ(factory.ReleasedRecords().size(), 3u);
    EXPECT_EQ(factory.ReleasedRecords()[0].data, Bytes(8, 1));
}

TEST(TestFrameFactory, WaitsForReleasesFromAnotherThread) {
    TestFrameFactory factory;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) factory.ReleaseFrame(factory.CreateFrame(FRAME_CODE_H264, 16, "x"));
    });
    EXPECT_TRUE(factory.WaitForReleased(3, std::chrono::seconds(10)));
    worker.join();
    EXPECT_FALSE(factory.WaitForReleased(4, std::chrono::milliseconds(1)));
    EXPECT_EQ(factory.Outstanding(), 0u);
}

}  // namespace
