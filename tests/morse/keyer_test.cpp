// tests/morse/keyer_test.cpp: the iambic keyer as a state machine over a made-up clock.
#include "morse/keyer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/paddle_operator.hpp"

namespace {

using Edges = std::vector<KEYER_EDGE>;

// Steps k to every millisecond from `from` to `to` inclusive, collecting edges, with the
// paddle changes of `script` (t, dit, dah) applied at their times after the step.
struct Fine {
    KEYER k;
    Edges edges;
    Fine(uint32_t unit, int mode_b) { keyer_init(&k, unit, mode_b); }
    void step(double t) { step_keyer_to(&k, t, edges, 4); }
    void run(const std::vector<PADDLE_EVENT> &script, double to) {
        size_t next = 0;
        for (double t = 0; t <= to; t += 1) {
            step(t);
            while (next < script.size() && script[next].t <= t) {
                keyer_paddles(&k, t, script[next].dit, script[next].dah);
                next++;
            }
            step(t);
        }
    }
};

// A fresh keyer whose paddles were set at time 0.
KEYER pressed(uint32_t unit, int mode_b, int dit, int dah) {
    KEYER k;
    keyer_init(&k, unit, mode_b);
    keyer_paddles(&k, 0, dit, dah);
    return k;
}

// The edges of a single keyer_step with room for max.
Edges step_once(KEYER &k, double now, size_t max) {
    Edges out(max + 1);
    out.resize(keyer_step(&k, now, out.data(), max));
    return out;
}

void expect_edges(const Edges &got, const Edges &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_DOUBLE_EQ(got[i].t, want[i].t) << "edge " << i;
        EXPECT_EQ(got[i].down, want[i].down) << "edge " << i;
    }
}

Edges marks(std::initializer_list<std::pair<double, double>> on_off) {
    Edges e;
    for (auto [on, off] : on_off) {
        e.push_back({on, 1});
        e.push_back({off, 0});
    }
    return e;
}

} // namespace

TEST(KeyerSetupTest, InitDefaultsAndRejectsNullKeyer) {
    KEYER k;
    keyer_init(&k, 0, 7);
    EXPECT_DOUBLE_EQ(k.unit, 100);
    EXPECT_EQ(k.mode_b, 1);
    EXPECT_EQ(k.phase, 0);
    EXPECT_EQ(keyer_next_deadline(&k), -1);
    keyer_init(&k, 40, 0);
    EXPECT_DOUBLE_EQ(k.unit, 40);
    EXPECT_EQ(k.mode_b, 0);

    KEYER_EDGE e;
    keyer_init(nullptr, 40, 0);
    keyer_paddles(nullptr, 0, 1, 1);
    EXPECT_EQ(keyer_step(nullptr, 0, &e, 1), 0u);
    EXPECT_EQ(keyer_next_deadline(nullptr), -1);
    keyer_paddles(&k, 0, 1, 0);
    EXPECT_EQ(keyer_step(&k, 0, nullptr, 1), 0u);
    EXPECT_EQ(keyer_step(&k, 0.0 / 0.0, &e, 1), 0u);
}

TEST(KeyerHeldPaddleTest, HeldDitCompletesTheDitStartedWhileHeld) {
    Fine f(100, 0);
    f.run({{0, 1, 0}, {250, 0, 0}}, 399);
    expect_edges(f.edges, marks({{0, 100}, {200, 300}}));
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&f.k), 400);
    f.step(400);
    EXPECT_EQ(keyer_next_deadline(&f.k), -1);
    EXPECT_EQ(f.edges.size(), 4u);
}

TEST(KeyerHeldPaddleTest, HeldDahRepeatsEveryFourUnits) {
    Fine f(100, 1);
    f.run({{0, 0, 1}, {1000, 0, 0}}, 1600);
    expect_edges(f.edges, marks({{0, 300}, {400, 700}, {800, 1100}}));
}

TEST(KeyerSqueezeTest, SqueezeFromIdleStartsWithDitAndAlternates) {
    for (int mode_b = 0; mode_b <= 1; mode_b++) {
        Fine f(100, mode_b);
        f.run({{0, 1, 1}}, 1399);
        expect_edges(f.edges, marks({{0, 100}, {200, 500}, {600, 700}, {800, 1100}, {1200, 1300}}));
        EXPECT_EQ(f.k.squeezed, 1);
    }
}

TEST(KeyerSqueezeTest, SqueezeReleasedDuringTheFirstDitDiffersByMode) {
    Fine a(100, 0);
    a.run({{0, 1, 1}, {50, 0, 0}}, 1000);
    expect_edges(a.edges, marks({{0, 100}}));

    Fine b(100, 1);
    b.run({{0, 1, 1}, {50, 0, 0}}, 1000);
    expect_edges(b.edges, marks({{0, 100}, {200, 500}}));
    EXPECT_EQ(keyer_next_deadline(&b.k), -1);
}

TEST(KeyerSqueezeTest, SqueezeReleasedDuringADahOwesADitOnlyInModeB) {
    const std::vector<PADDLE_EVENT> script = {{0, 1, 1}, {300, 0, 0}};
    Fine a(100, 0);
    a.run(script, 1500);
    expect_edges(a.edges, marks({{0, 100}, {200, 500}}));

    Fine b(100, 1);
    b.run(script, 1500);
    expect_edges(b.edges, marks({{0, 100}, {200, 500}, {600, 700}}));
}

TEST(KeyerSqueezeTest, HalfReleasedSqueezeInModeBStillOwesTheOppositeElement) {
    // Dah let go while the dah sounds: mode B owes a dit, then the dit paddle repeats dits.
    Fine b(100, 1);
    b.run({{0, 1, 1}, {300, 1, 0}, {850, 0, 0}}, 1500);
    expect_edges(b.edges, marks({{0, 100}, {200, 500}, {600, 700}, {800, 900}}));
    // Dit let go during the first dit: the dah follows, and letting go of the lone dah while
    // it sounds owes nothing more, as no squeeze lasted into it.
    Fine b2(100, 1);
    b2.run({{0, 1, 1}, {50, 0, 1}, {250, 0, 0}}, 1500);
    expect_edges(b2.edges, marks({{0, 100}, {200, 500}}));
}

TEST(KeyerMemoryTest, ShortOppositeTapDuringAnElementIsSentAfterTheSpace) {
    for (int mode_b = 0; mode_b <= 1; mode_b++) {
        Fine dit(100, mode_b);
        dit.run({{0, 1, 0}, {10, 0, 0}, {30, 0, 1}, {60, 0, 0}}, 1000);
        expect_edges(dit.edges, marks({{0, 100}, {200, 500}}));

        Fine dah(100, mode_b);
        dah.run({{0, 0, 1}, {10, 0, 0}, {100, 1, 0}, {120, 0, 0}}, 1000);
        expect_edges(dah.edges, marks({{0, 300}, {400, 500}}));
    }
}

TEST(KeyerMemoryTest, TapDuringTheSpaceIsSentNext) {
    Fine f(100, 0);
    f.run({{0, 1, 0}, {20, 0, 0}, {120, 0, 1}, {130, 0, 0}, {520, 1, 0}, {530, 0, 0}}, 1500);
    // The dit tapped in the dah's space comes after it, the dah after the first dit.
    expect_edges(f.edges, marks({{0, 100}, {200, 500}, {600, 700}}));
}

TEST(KeyerMemoryTest, SameElementTappedDuringTheSpaceIsRepeated) {
    Fine f(100, 0);
    f.run({{0, 0, 1}, {20, 0, 0}, {310, 0, 1}, {330, 0, 0}}, 1500);
    expect_edges(f.edges, marks({{0, 300}, {400, 700}}));
}

TEST(KeyerMemoryTest, SqueezeLetGoDuringTheSpaceOwesNothingInModeB) {
    Fine f(100, 1);
    f.run({{0, 1, 1}, {120, 0, 0}}, 1500);
    expect_edges(f.edges, marks({{0, 100}}));
}

TEST(KeyerMemoryTest, RetappingTheSoundingElementsPaddleIsNotRemembered) {
    Fine f(100, 0);
    f.run({{0, 1, 0}, {20, 0, 0}, {50, 1, 0}, {60, 0, 0}}, 1000);
    expect_edges(f.edges, marks({{0, 100}}));
}

TEST(KeyerScheduleTest, LateStepReturnsEveryDueEdgeAtItsScheduledTime) {
    Fine fine(40, 0);
    fine.run({{0, 1, 1}}, 1234);

    KEYER k = pressed(40, 0, 1, 1);
    Edges late = step_once(k, 0, 64);
    Edges more = step_once(k, 1234, 64);
    EXPECT_GT(more.size(), 10u);
    late.insert(late.end(), more.begin(), more.end());
    expect_edges(late, fine.edges);
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&k), fine.k.t_end);
}

TEST(KeyerScheduleTest, StartFromIdleHappensWhenStepped) {
    KEYER k = pressed(100, 0, 0, 1);
    EXPECT_EQ(keyer_next_deadline(&k), 0);
    KEYER_EDGE e[2];
    ASSERT_EQ(keyer_step(&k, 35, e, 2), 1u);
    EXPECT_DOUBLE_EQ(e[0].t, 35);
    EXPECT_EQ(e[0].down, 1);
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&k), 335);
    EXPECT_EQ(keyer_step(&k, 334.9, e, 2), 0u);
}

TEST(KeyerScheduleTest, DeadlineFollowsElementAndSpace) {
    KEYER k = pressed(50, 0, 1, 0);
    KEYER_EDGE e[4];
    keyer_step(&k, 0, e, 4);
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&k), 50);
    keyer_paddles(&k, 10, 0, 0);
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&k), 50);
    ASSERT_EQ(keyer_step(&k, 50, e, 4), 1u);
    EXPECT_DOUBLE_EQ(keyer_next_deadline(&k), 100);
    EXPECT_EQ(keyer_step(&k, 100, e, 4), 0u);
    EXPECT_EQ(keyer_next_deadline(&k), -1);
}

TEST(KeyerLimitTest, SmallOutputLosesNoEdge) {
    Fine fine(40, 1);
    fine.run({{0, 1, 1}}, 5000);

    KEYER k = pressed(40, 1, 1, 1);
    EXPECT_EQ(step_once(k, 0, 0).size(), 0u);
    EXPECT_EQ(keyer_next_deadline(&k), 0); // nothing was started without room for its edge
    Edges got = step_once(k, 0, 3);
    ASSERT_EQ(got.size(), 1u);
    for (int calls = 0; calls < 1000; calls++) {
        Edges some = step_once(k, 5000, 3);
        ASSERT_LE(some.size(), 3u);
        got.insert(got.end(), some.begin(), some.end());
        if (some.empty()) break;
    }
    expect_edges(got, fine.edges);
}

TEST(KeyerLimitTest, OneStepMakesAtMost64TransitionsAndTheNextGoesOn) {
    KEYER k = pressed(10, 0, 1, 0);
    std::vector<KEYER_EDGE> out(500);
    ASSERT_EQ(keyer_step(&k, 0, out.data(), out.size()), 1u);
    // Held dit: every transition is an edge, so the limit shows as 64 edges.
    ASSERT_EQ(keyer_step(&k, 100000, out.data(), out.size()), (size_t)KEYER_MAX_TRANSITIONS);
    EXPECT_DOUBLE_EQ(out[63].t, 640); // up at 10, down at 20, ... down at 640
    EXPECT_EQ(out[63].down, 1);
    ASSERT_EQ(keyer_step(&k, 100000, out.data(), out.size()), (size_t)KEYER_MAX_TRANSITIONS);
    EXPECT_DOUBLE_EQ(out[0].t, 650);
    EXPECT_EQ(out[0].down, 0);
}

TEST(KeyerLimitTest, ReturnCountsEdgesNotTheSilentReturnToIdle) {
    KEYER k = pressed(100, 0, 1, 0);
    KEYER_EDGE out[4];
    keyer_step(&k, 0, out, 4);
    keyer_paddles(&k, 10, 0, 0);
    out[1] = KEYER_EDGE{-1, 7};
    ASSERT_EQ(keyer_step(&k, 1000, out, 4), 1u); // up at 100, then idle at 200 without an edge
    EXPECT_DOUBLE_EQ(out[0].t, 100);
    EXPECT_EQ(out[1].down, 7);
    EXPECT_EQ(keyer_next_deadline(&k), -1);
}

// The scripted operator squeeze-keys whole letters; the keyer must give back exactly them.
struct OperatorCase {
    const char *name;
    const char *elements;
};

static const OperatorCase _letters[] = {
    {"C", "-.-."},  {"K", "-.-"},   {"Q", "--.-"},       {"Y", "-.--"},  {"R", ".-."},
    {"F", "..-."},  {"L", ".-.."},  {"1", ".----"},      {"2", "..---"}, {"3", "...--"},
    {"4", "....-"}, {"5", "....."}, {"6", "-...."},      {"7", "--..."}, {"8", "---.."},
    {"9", "----."}, {"0", "-----"}, {"CQ", "-.-. --.-"},
};

TEST(KeyerOperatorTest, SqueezeKeyedLettersComeOutExactlyInBothModes) {
    for (uint32_t unit : {80u, 40u}) { // 15 and 30 WPM
        for (int mode_b = 0; mode_b <= 1; mode_b++) {
            for (double reaction : {0.2, 0.5}) {
                for (const OperatorCase &c : _letters) {
                    SCOPED_TRACE(std::string(c.name) + " unit " + std::to_string(unit) +
                                 (mode_b ? " mode B" : " mode A") + " reaction " +
                                 std::to_string(reaction));
                    PaddleScript s = paddle_operator_plan(c.elements, unit, mode_b, 1000, reaction);
                    Edges edges = paddle_operator_play(s, unit, mode_b);
                    EXPECT_EQ(keyer_edges_to_elements(edges, unit), c.elements);
                    // Exact element lengths and spaces inside a letter, from the schedule.
                    for (size_t i = 1; i < edges.size(); i++) {
                        const double d = edges[i].t - edges[i - 1].t;
                        if (edges[i].down)
                            EXPECT_TRUE(d == unit || d >= 2.0 * unit) << i;
                        else
                            EXPECT_TRUE(d == unit || d == 3.0 * unit) << i;
                    }
                    // A poller stepping at odd moments sees the very same edges.
                    expect_edges(paddle_operator_play(s, unit, mode_b, 7), edges);
                }
            }
        }
    }
}

TEST(KeyerOperatorTest, OperatorReallySqueezesAndTheModesDiffer) {
    for (const char *e : {"-.-.", "-.-", "--.-", ".-.", "..-."}) {
        SCOPED_TRACE(e);
        PaddleScript a = paddle_operator_plan(e, 40, 0);
        PaddleScript b = paddle_operator_plan(e, 40, 1);
        bool squeezed = false;
        for (const PADDLE_EVENT &ev : a.events) squeezed |= ev.dit && ev.dah;
        EXPECT_TRUE(squeezed);
        // A mode-A fist on a mode-B keyer gets an extra element; the reverse loses the last.
        const std::string a_on_b = keyer_edges_to_elements(paddle_operator_play(a, 40, 1), 40);
        const std::string b_on_a = keyer_edges_to_elements(paddle_operator_play(b, 40, 0), 40);
        EXPECT_EQ(a_on_b.size(), strlen(e) + 1) << a_on_b;
        EXPECT_EQ(b_on_a, std::string(e).substr(0, strlen(e) - 1));
    }
}
