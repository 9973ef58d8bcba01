// src/ui/screen_light.cpp: the screen-light channel. Its callbacks run on the player thread and
// only record: the current event, the on/off edges with their times (the receive screen matches
// its camera samples against them), and a wake event so the main loop draws.
#include "ui/screen_light.hpp"

#include <atomic>
#include <ctime>

#include "main/app.hpp"
#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"

static uint64_t _now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1'000'000'000ull + (uint64_t)ts.tv_nsec;
}

// The slot is filled before the count is published, so a reader that sees the count sees the
// edge.
static void _record_edge(SCREEN_LIGHT *light, int on) {
    std::atomic_ref<size_t> count(light->edge_count);
    size_t n = count.load(std::memory_order_relaxed);
    light->edge_ns[n % SCREEN_LIGHT_EDGES] = _now_ns();
    light->edge_on[n % SCREEN_LIGHT_EDGES] = (uint8_t)on;
    count.store(n + 1, std::memory_order_release);
}

static int _last_edge_on(const SCREEN_LIGHT *light, size_t count) {
    return count ? light->edge_on[(count - 1) % SCREEN_LIGHT_EDGES] : 0;
}

static void _light_rep(const MORSE_SEQUENCE *, uint32_t rep, uint64_t, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    std::atomic_ref<uint32_t>(light->rep).store(rep);
}

static void _light_event(const MORSE_SEQUENCE *seq, size_t index, uint32_t, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    int on = index < seq->count && seq->events[index].state < MORSE_SYM_GAP;
    size_t count = light->edge_count; // only this thread writes it
    if (count == 0 || on != _last_edge_on(light, count)) _record_edge(light, on);
    std::atomic_ref<size_t>(light->index).store(index);
    lumikey_wake(light->wake);
}

static void _light_stop(int finished, void *user) {
    SCREEN_LIGHT *light = (SCREEN_LIGHT *)user;
    size_t count = light->edge_count;
    if (count && _last_edge_on(light, count)) _record_edge(light, 0);
    std::atomic_ref<int>(light->finished).store(finished);
    std::atomic_ref<int>(light->stopped).store(1);
    lumikey_wake(light->wake);
}

PLAYER_CHANNEL screen_light_channel(LUMIKEY_APP *app) {
    PLAYER_CHANNEL ch{};
    __ka_assert(app, return ch);
    SCREEN_LIGHT *light = &app->light;
    // No player uses the light now (the send before has been stopped), so plain writes do.
    light->wake = &app->wake_source;
    light->index = SIZE_MAX;
    light->rep = 0;
    light->stopped = 0;
    light->finished = 0;
    ch.name = "screen";
    ch.lead_ms = 0;
    ch.on_rep_start = _light_rep;
    ch.on_event = _light_event;
    ch.on_stop = _light_stop;
    ch.user = light;
    return ch;
}

size_t screen_light_index(const SCREEN_LIGHT *light) {
    return std::atomic_ref<size_t>(const_cast<SCREEN_LIGHT *>(light)->index).load();
}

int screen_light_stopped(const SCREEN_LIGHT *light) {
    return std::atomic_ref<int>(const_cast<SCREEN_LIGHT *>(light)->stopped).load();
}

size_t screen_light_edge_count(const SCREEN_LIGHT *light) {
    return std::atomic_ref<size_t>(const_cast<SCREEN_LIGHT *>(light)->edge_count)
        .load(std::memory_order_acquire);
}

size_t screen_light_edges(const SCREEN_LIGHT *light, uint64_t *ns, uint8_t *on, size_t max) {
    __ka_assert(light && ns && on, return 0);
    // The player thread may be writing the ring: every word is read atomically, and a reader
    // matches edges by time, so a torn pair costs one row's tx.
    SCREEN_LIGHT *l = const_cast<SCREEN_LIGHT *>(light);
    size_t count = screen_light_edge_count(light);
    size_t n = count < SCREEN_LIGHT_EDGES ? count : SCREEN_LIGHT_EDGES;
    if (n > max) n = max;
    for (size_t e = 0; e < n; e++) {
        size_t s = (count - n + e) % SCREEN_LIGHT_EDGES;
        ns[e] = std::atomic_ref<uint64_t>(l->edge_ns[s]).load(std::memory_order_relaxed);
        on[e] = std::atomic_ref<uint8_t>(l->edge_on[s]).load(std::memory_order_relaxed);
    }
    return n;
}
