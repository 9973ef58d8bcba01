// tests/support/paddle_operator.hpp: a scripted paddle operator. It plans, from the schedule
// an iambic keyer keeps, the paddle presses and releases with which an operator squeeze-keys a
// string of elements in mode A or mode B; and it reads keyer edges back as elements.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "morse/keyer.hpp"

// The paddles as they are from time t on.
struct PADDLE_EVENT {
    double t;
    int dit;
    int dah;
};

struct PaddleScript {
    std::vector<PADDLE_EVENT> events; // in time order
    double end_ms = 0;                // the last element and its space are over by then
};

// Plans the paddle timeline that keys elements ('.' dit, '-' dah, ' ' between letters) at
// unit_ms in the given mode, the first letter pressed at t0. Like an operator, it squeezes
// through alternating elements, adds the next paddle while an element sounds and lets go
// `reaction` units (0 < reaction <= 0.5) after an element began. In mode B it lets go of a
// squeeze one element early, leaving the last element to the keyer's memory.
PaddleScript paddle_operator_plan(const std::string &elements, double unit_ms, int mode_b,
                                  double t0 = 0, double reaction = 0.3);

// Steps k to t, `room` edges per keyer_step, until nothing more is due; appends the edges.
void step_keyer_to(KEYER *k, double t, std::vector<KEYER_EDGE> &edges, size_t room = 8);

// Plays a script into a fresh keyer the way the keyer thread does (stepping to each report's
// time before and after it) and returns every edge up to the script's end. With step_ms > 0
// the keyer is also stepped every step_ms in between, as a polling caller would.
std::vector<KEYER_EDGE> paddle_operator_play(const PaddleScript &script, uint32_t unit_ms,
                                             int mode_b, double step_ms = 0);

// Performs a script in real time: each event's paddles are handed to `press` when the steady
// clock reaches start_ms + (event time - the first event's time); start_ms is on the
// keyrun_now_ms clock. For driving the keyer thread, whose schedule follows the first press.
void paddle_operator_perform(const PaddleScript &script, double start_ms,
                             const std::function<void(int dit, int dah)> &press);

// Reads edges (alternating, starting with a down edge) as elements: a mark shorter than two
// units is a dit, a longer one a dah; a space of two units or more ends a letter (' ').
std::string keyer_edges_to_elements(const std::vector<KEYER_EDGE> &edges, double unit_ms);
