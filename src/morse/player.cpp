// src/morse/player.cpp: the send thread. It walks the sequence once per channel, always picking
// the channel whose next event is due first, and sleeps until that absolute deadline, so a late
// callback delays what follows only until the schedule has caught up, never beyond.
#include "morse/player.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <exception>
#include <new>
#include <thread>

#include "support/ka_common.hpp"

using _clock = std::chrono::steady_clock; // the monotonic clock: wall-clock jumps never matter

struct MORSE_PLAYER {
    std::mutex lock;
    std::condition_variable wake; // only a stop request broadcasts it
    std::thread thread;
    bool stop_requested = false; // guarded by lock
    std::atomic<int> playing{0}; // polled by the main loop without the lock
    MORSE_SEQUENCE *seq = nullptr;
    int loop = 0;
    PLAYER_CHANNEL channels[PLAYER_MAX_CHANNELS] = {};
    size_t channel_count = 0;
    uint64_t start_ns = 0;  // when repetition 0 starts in sequence time
    uint64_t period_ns = 0; // length of one repetition
};

// Everything before the first callback: gives the outputs a moment after the start call.
static const uint64_t _lead_in_ns = 30'000'000;

// The player whose thread is the calling thread, so that control calls made from inside a
// callback can be recognised instead of joining the thread they run on.
static thread_local const MORSE_PLAYER *_own_player = nullptr;

static uint64_t _now_ns() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
               _clock::now().time_since_epoch())
        .count();
}

// Sleeps until deadline_ns or a stop request, whichever comes first; the lock is held by lk.
// 1 when the deadline was reached, 0 when stopped.
static int _wait_until(MORSE_PLAYER *p, std::unique_lock<std::mutex> &lk, uint64_t deadline_ns) {
    const _clock::time_point deadline{std::chrono::nanoseconds(deadline_ns)};
    for (;;) {
        if (p->stop_requested) return 0;
        if (_now_ns() >= deadline_ns) return 1;
        if (p->wake.wait_until(lk, deadline) == std::cv_status::timeout) return !p->stop_requested;
    }
}

static void _player_thread(MORSE_PLAYER *p) {
    _own_player = p;
    const MORSE_SEQUENCE *seq = p->seq;
    const size_t n = seq->count;
    const uint64_t limit = p->loop ? UINT64_MAX : n;
    uint64_t k[PLAYER_MAX_CHANNELS] = {};
    int finished = 0;

    std::unique_lock<std::mutex> lk(p->lock);
    for (;;) {
        size_t chosen = PLAYER_MAX_CHANNELS;
        uint64_t due = 0;
        for (size_t c = 0; c < p->channel_count; c++) {
            if (k[c] >= limit) continue;
            uint64_t t = p->start_ns + (k[c] / n) * p->period_ns +
                         (uint64_t)seq->events[k[c] % n].start_ms * 1'000'000 -
                         (uint64_t)p->channels[c].lead_ms * 1'000'000;
            // A later channel must be strictly earlier to win a tie.
            if (chosen == PLAYER_MAX_CHANNELS || t < due) chosen = c, due = t;
        }
        if (chosen == PLAYER_MAX_CHANNELS) {
            finished = _wait_until(p, lk, p->start_ns + (uint64_t)seq->total_ms * 1'000'000);
            break;
        }
        if (!_wait_until(p, lk, due)) break;
        uint64_t kc = k[chosen]++;
        lk.unlock();
        const PLAYER_CHANNEL &ch = p->channels[chosen];
        uint32_t rep = (uint32_t)(kc / n);
        size_t index = (size_t)(kc % n);
        if (index == 0 && ch.on_rep_start)
            ch.on_rep_start(seq, rep, p->start_ns + (uint64_t)rep * p->period_ns, ch.user);
        if (ch.on_event) ch.on_event(seq, index, rep, ch.user);
        lk.lock();
    }
    lk.unlock();
    for (size_t c = 0; c < p->channel_count; c++)
        if (p->channels[c].on_stop) p->channels[c].on_stop(finished, p->channels[c].user);
    // Cleared only after every on_stop has run, so a poller that sees 0 knows every output has
    // been told; the record itself stays in use until the owner joins.
    p->playing.store(0);
}

MORSE_PLAYER *player_new() {
    MORSE_PLAYER *p = new (std::nothrow) MORSE_PLAYER();
    if (!p) ka_log(LOG_ERR, "( player *)new( MORSE_PLAYER ) out of memory");
    return p;
}

// Called from a channel callback, joining would wait for the very thread that is waiting.
static int _refuse_own_thread(const MORSE_PLAYER *p, const char *what) {
    if (_own_player != p) return 0;
    ka_log(LOG_ERR, "%s called from a player callback, ignored", what);
    return 1;
}

// Asks the thread to end and joins it. The caller is not the player thread.
static void _stop_and_join(MORSE_PLAYER *p) {
    if (!p->thread.joinable()) return;
    {
        std::lock_guard<std::mutex> g(p->lock);
        p->stop_requested = true;
    }
    p->wake.notify_all();
    p->thread.join();
}

void player_stop(MORSE_PLAYER *player) {
    if (!player) return;
    if (_own_player == player) {
        // No join is possible from here; the request ends playback once this callback returns.
        ka_log(LOG_ERR, "player_stop called from a player callback, stopping without waiting");
        std::lock_guard<std::mutex> g(player->lock);
        player->stop_requested = true;
        return;
    }
    _stop_and_join(player);
}

int player_start(MORSE_PLAYER *player, MORSE_SEQUENCE *seq, int loop,
                 const PLAYER_CHANNEL *channels, size_t channel_count) {
    if (!player) {
        morse_sequence_free(&seq);
        return 0;
    }
    if (_refuse_own_thread(player, "player_start")) {
        morse_sequence_free(&seq);
        return 0;
    }
    _stop_and_join(player);
    morse_sequence_free(&player->seq);
    player->seq = seq;
    if (!seq || seq->count == 0 || channel_count == 0 || channel_count > PLAYER_MAX_CHANNELS ||
        !channels) {
        ka_log(LOG_INFO, "nothing to play (%zu events, %zu channels)", seq ? seq->count : 0,
               channel_count);
        return 0;
    }

    uint32_t max_lead = 0;
    for (size_t c = 0; c < channel_count; c++) {
        player->channels[c] = channels[c];
        if (player->channels[c].lead_ms > PLAYER_MAX_LEAD_MS)
            player->channels[c].lead_ms = PLAYER_MAX_LEAD_MS;
        if (player->channels[c].lead_ms > max_lead) max_lead = player->channels[c].lead_ms;
    }
    player->channel_count = channel_count;

    player->loop = loop ? 1 : 0;
    const uint32_t unit_ms = seq->timing.unit_ms;
    const uint32_t word_gap_units = seq->timing.word_gap_units;
    // Looping, the closing gap is the word gap between repetitions; once, a zero-length gap
    // gives every output an explicit "off" at the moment the last element ends.
    int closed = morse_sequence_close(seq, player->loop ? word_gap_units : 0);
    uint64_t pause_ms = closed && player->loop ? 0 : (uint64_t)word_gap_units * unit_ms;
    player->period_ns = ((uint64_t)seq->total_ms + pause_ms) * 1'000'000;

    player->stop_requested = false;
    player->start_ns = _now_ns() + (uint64_t)max_lead * 1'000'000 + _lead_in_ns;
    player->playing.store(1);
    try {
        player->thread = std::thread(_player_thread, player);
    } catch (const std::exception &) {
        ka_log(LOG_ERR, "could not start the player thread");
        player->playing.store(0);
        return 0;
    }
    ka_log(LOG_INFO, "playing %zu events, %u ms, loop %d, %zu channels", seq->count, seq->total_ms,
           player->loop, channel_count);
    return 1;
}

void player_free(MORSE_PLAYER **player) {
    if (!player || !*player) return;
    // Freeing the record under the running thread would pull the floor from under it.
    if (_refuse_own_thread(*player, "player_free")) return;
    _stop_and_join(*player);
    morse_sequence_free(&(*player)->seq);
    delete *player;
    *player = nullptr;
}

int player_is_playing(const MORSE_PLAYER *player) {
    return player ? player->playing.load() : 0;
}

const MORSE_SEQUENCE *player_sequence(const MORSE_PLAYER *player) {
    return player ? player->seq : nullptr;
}

int player_is_looping(const MORSE_PLAYER *player) {
    return player ? player->loop : 0;
}

int player_position(const MORSE_PLAYER *player, uint32_t *rep_elapsed_ms, uint32_t *rep) {
    if (!player || !player->playing.load() || !player->seq) return 0;
    uint64_t now = _now_ns();
    uint64_t elapsed = now > player->start_ns ? now - player->start_ns : 0;
    uint64_t r = 0;
    if (player->period_ns) {
        r = elapsed / player->period_ns;
        elapsed %= player->period_ns;
    }
    uint64_t ms = elapsed / 1'000'000;
    if (ms > player->seq->total_ms) ms = player->seq->total_ms;
    if (rep_elapsed_ms) *rep_elapsed_ms = (uint32_t)ms;
    if (rep) *rep = (uint32_t)r;
    return 1;
}
