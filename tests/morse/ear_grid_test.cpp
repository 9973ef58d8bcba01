// tests/morse/ear_grid_test.cpp: a machine keyer's grid of units from a rough reading's edges:
// found, and to a fraction of a percent, through edges moved and added by noise; and not found in
// an operator's hand, however steady.
#include "morse/ear_grid.hpp"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/morse_signal.hpp"
#include "tests/support/test_sequence.hpp"

namespace {

const char *const TEXT = "CQ CQ DE F4LKY F4LKY K PSE QSL VIA BUREAU 73 ES GL";

// The edges of an operator's runs, keyed from 300 ms on, each moved by N(0, jitter_ms), with a
// false mark of noise every so many true ones.
EAR_EDGES edges_of(const HAND_MODEL &m, double jitter_ms, int noise_every, uint64_t seed) {
    MORSE_SEQUENCE *seq = test_sequence(TEXT, (uint32_t)m.unit_ms);
    std::vector<RUN> runs = hand_runs(seq, m);
    morse_sequence_free(&seq);
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> moved(0.0, jitter_ms);
    std::uniform_real_distribution<double> anywhere(0.0, 1.0);
    EAR_EDGES e;
    double t = 300;
    int marks = 0;
    for (const RUN &r : runs) {
        if (r.on) {
            e.up.push_back(t + moved(rng));
            e.down.push_back(t + r.ms + moved(rng));
        } else if (noise_every && ++marks % noise_every == 0 && r.ms > 2 * m.unit_ms) {
            double at = t + anywhere(rng) * (r.ms - m.unit_ms);
            e.up.push_back(at);
            e.down.push_back(at + 0.5 * m.unit_ms);
        }
        t += r.ms;
    }
    return e;
}

} // namespace

// A machine at 35 WPM whose edges noise moves by a sixth of a unit and adds a mark to every
// fifth gap: the spread points to its unit from a guess 8 % off, the lock finds it within 0.2 %
// and most of the edges keep it. Its own lattice is one of half a unit too, but not of twice it.
TEST(EarGridTest, AMachinesGridIsFoundThroughNoiseAndAHandsIsNot) {
    HAND_MODEL machine;
    machine.unit_ms = 1200.0 / 35;
    EAR_EDGES e = edges_of(machine, machine.unit_ms / 6, 5, 1);
    double unit = machine.unit_ms * 1.08;
    double spread = ear_grid_spread(e, &unit);
    EXPECT_NEAR(unit, machine.unit_ms, 0.02 * machine.unit_ms);
    int n = 0;
    double locked = ear_grid_lock(e, &unit, &n);
    EXPECT_NEAR(unit, machine.unit_ms, 0.002 * machine.unit_ms);
    EXPECT_GT(locked, 0.3);
    EXPECT_GT(n, 100);
    double twice = 2 * machine.unit_ms;
    EXPECT_LT(ear_grid_spread(e, &twice), 0.5 * spread);
    // An operator with a steady hand: 8 % jitter, a speed drifting by 5 %, clean edges.
    HAND_MODEL hand = machine;
    hand.sigma = 0.08;
    hand.drift = 0.05;
    hand.letter_units = 3.3;
    hand.seed = 3;
    EAR_EDGES h = edges_of(hand, 0, 0, 2);
    unit = hand.unit_ms;
    ear_grid_spread(h, &unit);
    EXPECT_LT(ear_grid_lock(h, &unit, &n), 0.2);
}
