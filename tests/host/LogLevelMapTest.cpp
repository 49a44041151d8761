#include <gtest/gtest.h>

#include "host/HostVersion.h"
#include "runtime/LogLevels.h"

using zentavo::HOST_VERSION;
using zentavo::MapLogLevel;

TEST(LogLevelMap, DependsOnHostVersion) {
    struct Case {
        uint16_t major, minor;
        int level, expected;
    } cases[] = {
        {5, 11, 3, 2},   {5, 11, 100, 2}, {5, 11, 1, 1},   {5, 11, 2, 2},
        {5, 12, 3, 3},   {5, 12, 100, 3}, {6, 2, 100, 3},  {6, 2, 3, 3},
        {6, 3, 100, 100}, {6, 3, 3, 3},   {7, 0, 100, 100}, {4, 99, 100, 2},
    };
    for (const auto& c : cases) {
        HOST_VERSION v;
        v.major = c.major;
        v.minor = c.minor;
        EXPECT_EQ(MapLogLevel(v, c.level), c.expected)
            << "version " << c.major << "." << c.minor << " level " << c.level;
    }
}
