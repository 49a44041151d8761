#include "channels/LatencyHistogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace zentavo;

namespace {

TEST(LatencyHistogram, PercentilesAreBucketEdgesAtOrAboveTheTrueValue) {
    const struct {
        const char* name;
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {"empty", {}, 0.5, 0},
        {"one value", {1.234}, 0.5, 1.3},
        {"median of 1..100 ms", {}, 0.5, 50.1},  // filled below
        {"99th of 1..100 ms", {}, 0.99, 99.1},
        {"all below the first edge", {0, 0.01, 0.09}, 0.99, 0.1},
        {"negative and NaN count as 0", {-5, NAN}, 1, 0.1},
        {"beyond the range answers the largest", {1, 250, 400}, 1, 400},
        {"one slow of a hundred stays out of the 99th", {}, 0.99, 2.1},
    };
    for (const auto& c : cases) {
        CLatencyHistogram h;
        std::vector<double> values = c.values;
        if (std::string(c.name).find("1..100") != std::string::npos)
            for (int i = 1; i <= 100; ++i) values.push_back(i);
        if (std::string(c.name).find("one slow") != std::string::npos) {
            values.assign(99, 2.0);
            values.push_back(300);
        }
        for (double v : values) h.Add(v);
        EXPECT_EQ(h.Count(), values.size()) << c.name;
        EXPECT_NEAR(h.Percentile(c.q), c.expected, 1e-9) << c.name;
    }
}

TEST(LatencyHistogram, ClearForgetsEverything) {
    CLatencyHistogram h;
    h.Add(500);
    h.Clear();
    EXPECT_EQ(h.Count(), 0u);
    EXPECT_EQ(h.Percentile(1), 0);
    h.Add(0.25);
    EXPECT_NEAR(h.Percentile(1), 0.3, 1e-9);
}

}  // namespace
