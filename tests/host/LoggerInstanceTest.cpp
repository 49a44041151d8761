#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/LoggerInstance.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::FakeDriver;

namespace {

class CTestLogger : public CLoggerInstance {
public:
    using CLoggerInstance::CLoggerInstance;
    using CLoggerInstance::m_counter;
};

std::vector<std::string> Texts(const FakeDriver& driver) {
    std::vector<std::string> texts;
    for (const auto& line : driver.Lines()) texts.push_back(line.text);
    return texts;
}

TEST(LoggerInstance, RepeatedTextIsDeliveredOnce) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    logger.Log(LOG_ERROR, "%s: failed %d", "zentavo::X::Y", 1);
    logger.Log(LOG_ERROR, "%s: failed %d", "zentavo::X::Y", 1);
    EXPECT_EQ(Texts(driver), std::vector<std::string>{"zentavo::X::Y: failed 1"});
    EXPECT_EQ(driver.Lines()[0].level, LOG_ERROR);
}

TEST(LoggerInstance, AlternatingTextsAreAllDelivered) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    logger.Log(LOG_INFO, "%s", "A");
    logger.Log(LOG_WARNING, "%s", "B");
    logger.Log(LOG_INFO, "%s", "A");
    EXPECT_EQ(Texts(driver), (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(driver.Lines()[1].level, LOG_WARNING);
}

TEST(LoggerInstance, ThinsOutAFloodOfDistinctTexts) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    for (int i = 1; i <= 300; ++i) logger.Log(LOG_ERROR, "text %d", i);
    std::vector<std::string> expected;
    for (int i = 1; i <= 14; ++i) expected.push_back("text " + std::to_string(i));
    for (int i = 16; i <= 240; i += 16) expected.push_back("text " + std::to_string(i));
    expected.push_back("text 256");
    EXPECT_EQ(Texts(driver), expected);
}

TEST(LoggerInstance, SuppressedTextDoesNotBecomeTheLastOne) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    for (int i = 1; i <= 14; ++i) logger.Log(LOG_ERROR, "text %d", i);
    logger.Log(LOG_ERROR, "%s", "same");  // 15th: not delivered
    logger.Log(LOG_ERROR, "%s", "same");  // differs from "text 14": counted as 16th, delivered
    const auto texts = Texts(driver);
    ASSERT_EQ(texts.size(), 15u);
    EXPECT_EQ(texts.back(), "same");
    logger.Log(LOG_ERROR, "%s", "same");  // now a repeat
    EXPECT_EQ(Texts(driver).size(), 15u);
}

TEST(LoggerInstance, CounterStartsOverAtTheTopOfTheSchedule) {
    FakeDriver driver;
    CTestLogger logger(&driver);
    for (int i = 1; i <= 65535; ++i) logger.Log(LOG_ERROR, "t%d", i);
    // 14 + 15 (every 16th) + 15 (every 256th) + 15 (every 4096th)
    EXPECT_EQ(driver.Lines().size(), 59u);
    EXPECT_EQ(logger.m_counter, 4095u);
    logger.Log(LOG_ERROR, "%s", "next");  // counted as 4096
    EXPECT_EQ(Texts(driver).back(), "next");
}

TEST(LoggerInstance, PercentSignsPassUnchanged) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    const char* ready = "100% done %s %d %n";
    logger.Log(LOG_ERROR, "%s", ready);
    EXPECT_EQ(Texts(driver), std::vector<std::string>{ready});
}

TEST(LoggerInstance, EmptyTextAndMissingTargetAreHarmless) {
    FakeDriver driver;
    CLoggerInstance logger(&driver);
    logger.Log(LOG_ERROR, "%s", "");
    EXPECT_TRUE(driver.Lines().empty());
    CLoggerInstance detached(nullptr);
    detached.Log(LOG_ERROR, "%s", "nowhere");
}

}  // namespace
