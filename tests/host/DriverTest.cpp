// The driver entry: factory exports, open and close, configuration reading,
// parameters, logging through the host's sink.
#include <gtest/gtest.h>

#include "host/HalvencapDriver.h"
#include "support/DriverLibrary.h"
#include "support/TestHost.h"

using namespace halvencap_test;
using zentavo::CHalvencapDriver;
using zentavo::HOST_VERSION;

namespace {

class DriverEntry : public ::testing::Test {
protected:
    DriverLibrary library;
    TestDebugSink sink;
    TestDeviceConfig config;

    DriverPtr Make() { return DriverPtr(library.Create(), DriverDeleter{&library}); }
};

}  // namespace

TEST_F(DriverEntry, TwoDriversAreDistinctAndIndependent) {
    ASSERT_TRUE(library.Loaded());
    DriverPtr a = Make(), b = Make();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());

    TestDeviceConfig other;
    other.address = std::string("127.0.0.2");
    other.channelCount = 2;
    TestDebugSink otherSink;
    ASSERT_TRUE(a->Open(&sink, nullptr, &config));
    ASSERT_TRUE(b->Open(&otherSink, nullptr, &other));
    EXPECT_EQ(a->GetVideoCapture()->GetChannelCount(), 1u);
    EXPECT_EQ(b->GetVideoCapture()->GetChannelCount(), 2u);
    EXPECT_TRUE(sink.Find("address: 127.0.0.1:80)"));
    EXPECT_TRUE(otherSink.Find("address: 127.0.0.2:80)"));
    a->Close();
    EXPECT_EQ(a->GetVideoCapture(), nullptr);
    EXPECT_NE(b->GetVideoCapture(), nullptr);
}

TEST_F(DriverEntry, OpenFailsWithoutUsableParameterOne) {
    const std::optional<std::string> values[] = {std::nullopt, std::string("(none)"), std::string("12a"),
                                                 std::string(""), std::string("+"), std::string(" 1")};
    for (const auto& v : values) {
        DriverPtr d = Make();
        config.params = {v, std::string("fw")};
        TestDebugSink quiet;
        EXPECT_FALSE(d->Open(&quiet, nullptr, &config)) << (v ? *v : "null");
        EXPECT_EQ(d->GetVideoCapture(), nullptr);
        EXPECT_EQ(d->GetVideoCaptureEx(), nullptr);
        EXPECT_EQ(d->GetIOApi(), nullptr);
        EXPECT_EQ(quiet.Count("DRIVER IS OPENED"), 0u);
    }
}

TEST_F(DriverEntry, OpenedLineIsExactAndPassesPercentUnchanged) {
    DriverPtr d = Make();
    config.model = std::string("BIP2-1300c%s%n");
    config.port = 8080;
    config.params = {std::string("-7"), std::string("1.2%d")};
    ASSERT_TRUE(d->Open(&sink, nullptr, &config));
    auto line = sink.Find("DRIVER IS OPENED");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text,
              "DRIVER IS OPENED (name: Halvencap, device model: BIP2-1300c%s%n, FW: 1.2%d, address: 127.0.0.1:8080)");
}

TEST_F(DriverEntry, OpenedLineOmitsEmptyFirmwareAndNeedsAModel) {
    {
        DriverPtr d = Make();
        config.params = {std::string("1"), std::string("(none)")};
        ASSERT_TRUE(d->Open(&sink, nullptr, &config));
        auto line = sink.Find("DRIVER IS OPENED");
        ASSERT_TRUE(line);
        EXPECT_EQ(line->text, "DRIVER IS OPENED (name: Halvencap, device model: TestCam, address: 127.0.0.1:80)");
    }
    sink.Clear();
    DriverPtr d = Make();
    config.model = std::string();
    EXPECT_TRUE(d->Open(&sink, nullptr, &config));
    EXPECT_EQ(sink.Count("DRIVER IS OPENED"), 0u);
}

TEST_F(DriverEntry, NullTextsFromTheHostReadAsEmpty) {
    DriverPtr d = Make();
    config.model = std::nullopt;
    config.address = std::nullopt;
    config.userName = std::nullopt;
    config.password = std::nullopt;
    EXPECT_TRUE(d->Open(&sink, nullptr, &config));
    EXPECT_EQ(sink.Count("DRIVER IS OPENED"), 0u);
}

TEST_F(DriverEntry, DeleteOfNullDoesNothingAndOpenedDriverDeletesCleanly) {
    library.Delete(nullptr);
    auto* raw = library.Create();
    ASSERT_NE(raw, nullptr);
    ASSERT_TRUE(raw->Open(&sink, nullptr, &config));
    library.Delete(raw);  // closes first
}

TEST_F(DriverEntry, ReservedSlotsAreZeroWhetherOpenOrNot) {
    DriverPtr d = Make();
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(d->GetReservedA(), 0);
        EXPECT_EQ(d->GetReservedB(), 0);
        EXPECT_EQ(d->GetReservedC(), 0);
        EXPECT_EQ(d->GetReservedD(), 0);
        EXPECT_EQ(d->GetReservedE(), 0);
        EXPECT_EQ(d->GetAuxObject(), nullptr);
        EXPECT_EQ(d->GetAuxObjectEx(), nullptr);
        ASSERT_TRUE(d->Open(&sink, nullptr, &config));
    }
}

// The services face, reached on the driver class itself.
TEST(DriverServices, ParametersDeviceNameAndCounts) {
    CHalvencapDriver driver;
    TestDebugSink sink;
    TestDeviceConfig config;
    config.port = 0;
    config.inputCount = 2;
    config.outputCount = 3;
    config.params = {std::string("42"), std::string("(none)"), std::string(" (none)"), std::string("x"),
                     std::nullopt, std::string("after the gap")};
    ASSERT_TRUE(driver.Open(&sink, nullptr, &config));
    EXPECT_EQ(driver.GetModeParameter(), 42);
    EXPECT_EQ(driver.GetParamString(2), "");
    EXPECT_EQ(driver.GetParamString(3), " (none)");
    EXPECT_EQ(driver.GetParamString(4), "x");
    EXPECT_EQ(driver.GetParamString(6), "");  // the list stops at the first null
    EXPECT_EQ(driver.GetParamInt(4), INT32_MIN);
    EXPECT_EQ(driver.GetParamInt(9), INT32_MIN);
    EXPECT_EQ(driver.GetDeviceName(), "127.0.0.1:0");
    EXPECT_EQ(driver.GetIOCounts(), std::make_pair(2u, 3u));
    EXPECT_EQ(driver.GetDeviceInfo()->requestTimeoutMs, 5000u);
    EXPECT_EQ(driver.GetDeviceInfo()->streamTimeoutMs, 15000u);
    EXPECT_EQ(driver.GetDriverName(), "Halvencap");
    const std::string dir = driver.GetHostDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
}

TEST(DriverServices, MessageMapsLevelsByHostVersionAndDropsSilentAndEmpty) {
    struct Case {
        uint16_t major, minor;
        int level, expected;
    } cases[] = {{5, 11, 3, 2}, {5, 12, 3, 3}, {5, 11, 100, 2}, {6, 2, 100, 3}, {6, 3, 100, 100}, {6, 3, 1, 1}};
    for (const auto& c : cases) {
        CHalvencapDriver driver;
        TestDebugSink sink;
        TestDeviceConfig config;
        config.model = std::string();
        ASSERT_TRUE(driver.Open(&sink, nullptr, &config));
        HOST_VERSION v;
        v.major = c.major;
        v.minor = c.minor;
        driver.SetHostVersion(v);
        driver.Message(c.level, "%s: line %d", "zentavo::Test::Run", 1);
        driver.Message(4, "%s: silent", "zentavo::Test::Run");
        driver.Message(1, "%s", "");
        auto lines = sink.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, c.expected);
        EXPECT_EQ(lines[0].text, "zentavo::Test::Run: line 1");
    }
}

TEST(DriverServices, WithoutMondrelTheHostVersionIs512) {
    CHalvencapDriver driver;
    EXPECT_EQ(driver.GetHostVersion().major, 5);
    EXPECT_EQ(driver.GetHostVersion().minor, 12);
}
