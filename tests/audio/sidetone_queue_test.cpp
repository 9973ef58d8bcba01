// tests/audio/sidetone_queue_test.cpp: the sidetone queue grows a step at a time, no further
// than its cap, and comes back to its base after calm spells.
#include <gtest/gtest.h>

#include "audio/sidetone_queue.hpp"

namespace {

constexpr uint32_t BASE = 256, STEP = 64, CAP = 704;

SIDETONE_QUEUE fresh(int64_t now = 1000) {
    SIDETONE_QUEUE q;
    sidetone_queue_init(&q, BASE, STEP, CAP, now);
    return q;
}

} // namespace

TEST(SidetoneQueueTest, UnderrunsGrowItOneStepEachUpToTheCap) {
    SIDETONE_QUEUE q = fresh();
    EXPECT_EQ(q.target, BASE);
    int64_t t = 1000 + SIDETONE_QUEUE_SETTLE_MS;
    for (uint32_t want = BASE + STEP; want <= CAP; want += STEP) {
        ASSERT_EQ(sidetone_queue_underrun(&q, t), 1);
        EXPECT_EQ(q.target, want);
        t += SIDETONE_QUEUE_SETTLE_MS;
    }
    EXPECT_EQ(q.target, CAP);
    EXPECT_EQ(sidetone_queue_underrun(&q, t), 0) << "at the cap it stays";
    EXPECT_EQ(q.target, CAP);
    EXPECT_EQ(q.highest, CAP);
}

TEST(SidetoneQueueTest, UnderrunsOfOneStallCountOnce) {
    SIDETONE_QUEUE q = fresh();
    // Right after opening, and right after a change, the server may still report the stall
    // that caused it.
    EXPECT_EQ(sidetone_queue_underrun(&q, 1000 + SIDETONE_QUEUE_SETTLE_MS - 1), 0);
    EXPECT_EQ(sidetone_queue_underrun(&q, 5000), 1);
    EXPECT_EQ(sidetone_queue_underrun(&q, 5001), 0);
    EXPECT_EQ(sidetone_queue_underrun(&q, 5000 + SIDETONE_QUEUE_SETTLE_MS - 1), 0);
    EXPECT_EQ(q.target, BASE + STEP);
    EXPECT_EQ(sidetone_queue_underrun(&q, 5000 + SIDETONE_QUEUE_SETTLE_MS), 1);
    EXPECT_EQ(q.target, BASE + 2 * STEP);
}

TEST(SidetoneQueueTest, ACapNotAWholeStepAwayIsReachedExactly) {
    SIDETONE_QUEUE q;
    sidetone_queue_init(&q, 256, 64, 300, 0);
    EXPECT_EQ(sidetone_queue_underrun(&q, 1000), 1);
    EXPECT_EQ(q.target, 300u);
    EXPECT_EQ(sidetone_queue_tick(&q, 1000 + SIDETONE_QUEUE_CALM_MS), 1);
    EXPECT_EQ(q.target, 256u) << "never below the base";
}

TEST(SidetoneQueueTest, CalmSpellsBringItBackAStepEachToTheBase) {
    SIDETONE_QUEUE q = fresh(0);
    int64_t t = 0;
    for (int i = 0; i < 3; i++) sidetone_queue_underrun(&q, t += 200);
    ASSERT_EQ(q.target, BASE + 3 * STEP);
    // Ticks that come often change nothing until a whole calm spell has passed.
    int64_t grown = t;
    for (t = grown; t < grown + SIDETONE_QUEUE_CALM_MS; t += 3)
        ASSERT_EQ(sidetone_queue_tick(&q, t), 0);
    EXPECT_EQ(sidetone_queue_tick(&q, grown + SIDETONE_QUEUE_CALM_MS), 1);
    EXPECT_EQ(q.target, BASE + 2 * STEP);
    // The next step needs another whole spell, counted from the last change.
    EXPECT_EQ(sidetone_queue_tick(&q, grown + 2 * SIDETONE_QUEUE_CALM_MS - 1), 0);
    EXPECT_EQ(sidetone_queue_tick(&q, grown + 2 * SIDETONE_QUEUE_CALM_MS), 1);
    EXPECT_EQ(sidetone_queue_tick(&q, grown + 3 * SIDETONE_QUEUE_CALM_MS), 1);
    EXPECT_EQ(q.target, BASE);
    EXPECT_EQ(sidetone_queue_tick(&q, grown + 10 * SIDETONE_QUEUE_CALM_MS), 0);
    EXPECT_EQ(q.target, BASE);
    EXPECT_EQ(q.highest, BASE + 3 * STEP) << "the longest queue is remembered";
}

TEST(SidetoneQueueTest, AnUnderrunRestartsTheCalmSpell) {
    SIDETONE_QUEUE q = fresh(0);
    sidetone_queue_underrun(&q, 500);
    sidetone_queue_underrun(&q, 500 + SIDETONE_QUEUE_CALM_MS - 10);
    ASSERT_EQ(q.target, BASE + 2 * STEP);
    EXPECT_EQ(sidetone_queue_tick(&q, 500 + SIDETONE_QUEUE_CALM_MS + 10), 0);
    EXPECT_EQ(sidetone_queue_tick(&q, 490 + 2 * SIDETONE_QUEUE_CALM_MS), 1);
}

TEST(SidetoneQueueTest, NonsenseSizesAreMadeUsable) {
    SIDETONE_QUEUE q;
    sidetone_queue_init(&q, 0, 0, 0, 0);
    EXPECT_GE(q.target, 1u);
    EXPECT_GE(q.cap, q.base);
    sidetone_queue_init(&q, 500, 64, 100, 0);
    EXPECT_EQ(q.target, 500u);
    EXPECT_EQ(sidetone_queue_underrun(&q, 1000), 0) << "a cap below the base holds it there";
}
