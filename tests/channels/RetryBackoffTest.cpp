#include <gtest/gtest.h>

#include <vector>

#include "channels/RetryBackoff.h"

using zentavo::CRetryBackoff;

namespace {

struct Row {
    const char* what;
    uint32_t limitMs;
    std::vector<uint32_t> delays;
};

const Row kRows[] = {
    {"doubles up to the stream time-out", 10000, {1000, 2000, 4000, 8000, 10000, 10000}},
    {"reaches a limit that is no power of two", 5000, {1000, 2000, 4000, 5000, 5000}},
    {"a limit below a second still waits a second", 300, {1000, 1000, 1000}},
    {"a limit of zero still waits a second", 0, {1000, 1000}},
};

}  // namespace

TEST(RetryBackoff, DelaysPerLimit) {
    for (const Row& row : kRows) {
        CRetryBackoff backoff;
        std::vector<uint32_t> delays;
        for (size_t i = 0; i < row.delays.size(); ++i) delays.push_back(backoff.NextDelayMs(row.limitMs));
        EXPECT_EQ(delays, row.delays) << row.what;
        EXPECT_EQ(backoff.Failures(), row.delays.size()) << row.what;
    }
}

TEST(RetryBackoff, ASuccessStartsOverAtOneSecond) {
    CRetryBackoff backoff;
    for (int i = 0; i < 5; ++i) backoff.NextDelayMs(30000);
    backoff.Reset();
    EXPECT_EQ(backoff.Failures(), 0u);
    EXPECT_EQ(backoff.NextDelayMs(30000), 1000u);
    EXPECT_EQ(backoff.NextDelayMs(30000), 2000u);
}
