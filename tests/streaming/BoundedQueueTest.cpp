#include "streaming/BoundedQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using zentavo::TBoundedQueue;

namespace {

std::vector<int> Drain(TBoundedQueue<int>& q) {
    std::vector<int> out;
    while (auto item = q.Pop()) out.push_back(*item);
    return out;
}

TEST(BoundedQueue, DropsTheOldestBeyondEitherBound) {
    const struct {
        const char* name;
        size_t maxItems, maxBytes;
        std::vector<size_t> sizes;  // item i has value i
        std::vector<int> kept;
        uint64_t dropped;
    } cases[] = {
        {"within bounds", 4, 100, {10, 10, 10}, {0, 1, 2}, 0},
        {"count bound", 3, 1000, {1, 1, 1, 1, 1}, {2, 3, 4}, 2},
        {"byte bound", 100, 25, {10, 10, 10, 10}, {2, 3}, 2},
        {"byte bound frees room for a large item", 100, 25, {10, 10, 20}, {2}, 2},
        {"an item larger than the bound is kept alone", 100, 25, {10, 40}, {1}, 1},
        {"zero bounds keep the newest", 0, 0, {5, 5, 5}, {2}, 2},
    };
    for (const auto& c : cases) {
        TBoundedQueue<int> q(c.maxItems, c.maxBytes);
        uint64_t dropped = 0;
        for (size_t i = 0; i < c.sizes.size(); ++i) dropped += q.Push(std::make_unique<int>(int(i)), c.sizes[i]);
        EXPECT_EQ(dropped, c.dropped) << c.name;
        EXPECT_EQ(q.Dropped(), c.dropped) << c.name;
        EXPECT_LE(q.Count(), c.maxItems ? c.maxItems : 1) << c.name;
        EXPECT_EQ(Drain(q), c.kept) << c.name;
        EXPECT_EQ(q.Bytes(), 0u) << c.name;
    }
}

TEST(BoundedQueue, BytesFollowPushPopAndClear) {
    TBoundedQueue<int> q(10, 1000);
    q.Push(std::make_unique<int>(1), 100);
    q.Push(std::make_unique<int>(2), 50);
    EXPECT_EQ(q.Bytes(), 150u);
    EXPECT_EQ(*q.Pop(), 1);
    EXPECT_EQ(q.Bytes(), 50u);
    q.Clear();
    EXPECT_TRUE(q.Empty());
    EXPECT_EQ(q.Bytes(), 0u);
    EXPECT_EQ(q.Pop(), nullptr);
    // Tightening the bounds trims at once.
    for (int i = 0; i < 5; ++i) q.Push(std::make_unique<int>(i), 1);
    q.SetLimits(2, 1000);
    EXPECT_EQ(Drain(q), (std::vector<int>{3, 4}));
    EXPECT_EQ(q.Dropped(), 3u);
}

}  // namespace
