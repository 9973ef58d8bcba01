// tests/support/paddle_operator.cpp: the scripted paddle operator.
#include "support/paddle_operator.hpp"

#include <chrono>
#include <thread>

namespace {

struct Hold {
    int dit = 0;
    int dah = 0;
    bool both() const { return dit && dah; }
    bool operator==(const Hold &) const = default;
};

Hold paddle_of(char element) {
    return element == '.' ? Hold{1, 0} : Hold{0, 1};
}

Hold joined(Hold a, Hold b) {
    return Hold{a.dit | b.dit, a.dah | b.dah};
}

void push(PaddleScript &script, double t, Hold hold) {
    if (!script.events.empty()) {
        const PADDLE_EVENT &last = script.events.back();
        if (last.dit == hold.dit && last.dah == hold.dah) return;
    }
    script.events.push_back(PADDLE_EVENT{t, hold.dit, hold.dah});
}

// Keys one letter from t; returns the time its last element ends.
double plan_letter(PaddleScript &script, const std::string &e, double u, int mode_b, double t,
                   double reaction) {
    const int n = (int)e.size();
    std::vector<double> start(n);
    for (int i = 0; i < n; i++)
        start[i] = i == 0 ? t : start[i - 1] + (e[i - 1] == '.' ? 1 : 3) * u + u;
    // What the operator holds while element i sounds: its own paddle and, when the next
    // element differs, the next one too (a squeeze). Nothing once the last element sounds.
    auto held = [&](int i) {
        if (i < 0) return paddle_of(e[0]);
        if (i == n - 1) return Hold{};
        return joined(paddle_of(e[i]), paddle_of(e[i + 1]));
    };

    push(script, t, held(-1));
    for (int i = 0; i < n; i++) {
        const Hold before = held(i - 1);
        const Hold now = held(i);
        // Mode B: the squeeze was already let go during the previous element, and the keyer's
        // memory supplies this last one.
        if (mode_b && i == n - 1 && before.both()) continue;
        if (!(before == now)) {
            // Letting go of a squeeze while an element sounds would, in mode B, owe the
            // opposite element; the operator lets go in the space before instead.
            if (mode_b && before.both() && !now.both())
                push(script, start[i] - 0.5 * u, now);
            else
                push(script, start[i] + reaction * u, now);
        }
        if (mode_b && i == n - 2 && now.both()) push(script, start[i] + (reaction + 0.4) * u, {});
    }
    return start[n - 1] + (e[n - 1] == '.' ? 1 : 3) * u;
}

} // namespace

void step_keyer_to(KEYER *k, double t, std::vector<KEYER_EDGE> &edges, size_t room) {
    std::vector<KEYER_EDGE> buf(room);
    size_t n;
    do {
        n = keyer_step(k, t, buf.data(), room);
        edges.insert(edges.end(), buf.begin(), buf.begin() + (long)n);
    } while (n > 0);
}

PaddleScript paddle_operator_plan(const std::string &elements, double unit_ms, int mode_b,
                                  double t0, double reaction) {
    PaddleScript script;
    double t = t0;
    double end = t0;
    size_t pos = 0;
    while (pos < elements.size()) {
        size_t stop = elements.find(' ', pos);
        if (stop == std::string::npos) stop = elements.size();
        if (stop > pos) {
            end =
                plan_letter(script, elements.substr(pos, stop - pos), unit_ms, mode_b, t, reaction);
            t = end + 3 * unit_ms; // a letter space after the last element
        }
        pos = stop + 1;
    }
    script.end_ms = end + unit_ms;
    return script;
}

std::vector<KEYER_EDGE> paddle_operator_play(const PaddleScript &script, uint32_t unit_ms,
                                             int mode_b, double step_ms) {
    KEYER k;
    keyer_init(&k, unit_ms, mode_b);
    std::vector<KEYER_EDGE> edges;
    auto step_to = [&](double t) { step_keyer_to(&k, t, edges); };
    double poll = script.events.empty() ? 0 : script.events.front().t;
    auto poll_to = [&](double t) {
        if (step_ms <= 0) return;
        for (; poll < t; poll += step_ms) step_to(poll);
    };
    for (const PADDLE_EVENT &ev : script.events) {
        poll_to(ev.t);
        step_to(ev.t);
        keyer_paddles(&k, ev.t, ev.dit, ev.dah);
        step_to(ev.t);
    }
    poll_to(script.end_ms);
    step_to(script.end_ms);
    return edges;
}

void paddle_operator_perform(const PaddleScript &script, double start_ms,
                             const std::function<void(int dit, int dah)> &press) {
    if (script.events.empty()) return;
    const double first = script.events.front().t;
    for (const PADDLE_EVENT &ev : script.events) {
        const double at_ms = start_ms + (ev.t - first);
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
            std::chrono::nanoseconds((int64_t)(at_ms * 1e6))));
        press(ev.dit, ev.dah);
    }
}

std::string keyer_edges_to_elements(const std::vector<KEYER_EDGE> &edges, double unit_ms) {
    std::string out;
    for (size_t i = 0; i < edges.size(); i += 2) {
        if (!edges[i].down || i + 1 >= edges.size() || edges[i + 1].down) {
            out += '?'; // not a down edge followed by its up edge
            break;
        }
        if (i > 0 && edges[i].t - edges[i - 1].t >= 2 * unit_ms) out += ' ';
        out += edges[i + 1].t - edges[i].t < 2 * unit_ms ? '.' : '-';
    }
    return out;
}
