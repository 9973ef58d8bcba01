// src/model/receiver.cpp: the receiver. The sinks run on the source's thread and only feed,
// queue and wake, under the lock; creating and freeing the decoder, saving, tracing to files
// and starting and stopping the sources are the main thread's.
#include "model/receiver.hpp"

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

#include "model/json_store.hpp"
#include "morse/ear_live.hpp"
#include "phone/camera_capture.hpp"
#include "phone/torch.hpp"
#include "platform/platform_desktop.hpp"
#include "platform/wake_event.hpp"
#include "support/ka_common.hpp"

// The queue's first size: more than a source finishes between two passes of the main loop.
static const size_t QUEUE_START = 4;

// The receiver's lock, held for a scope.
struct RX_HOLD {
    explicit RX_HOLD(RECEIVER *rx) : m(&rx->lock) { pthread_mutex_lock(m); }
    ~RX_HOLD() { pthread_mutex_unlock(m); }
    RX_HOLD(const RX_HOLD &) = delete;
    RX_HOLD &operator=(const RX_HOLD &) = delete;
    pthread_mutex_t *m;
};

int receiver_init(RECEIVER *rx, const RECEIVER_HOOKS *hooks) {
    __ka_assert(rx, return 0);
    if (hooks) rx->hooks = *hooks;
    if (!Malloc(rx->queue, DECODED_MESSAGE, QUEUE_START)) return 0;
    if (!Malloc(rx->taken, DECODED_MESSAGE, QUEUE_START)) {
        Free(rx->queue);
        return 0;
    }
    rx->queue_cap = rx->taken_cap = QUEUE_START;
    rx->mic_t0_ns = -1;
    if (pthread_mutex_init(&rx->lock, nullptr) != 0) {
        ka_log(LOG_ERR, "could not create the receiver lock");
        Free(rx->queue);
        Free(rx->taken);
        return 0;
    }
    return 1;
}

void receiver_destroy(RECEIVER *rx) {
    __ka_assert(rx, return );
    pthread_mutex_destroy(&rx->lock);
    if (rx->queue) Free(rx->queue);
    if (rx->taken) Free(rx->taken);
    rx->queue_cap = rx->taken_cap = rx->nqueue = 0;
}

// --- The source's thread ---

// With the hold taken: keeps a level for the trace when one is drawn.
static void _trace(RECEIVER *rx, double t_ms, float level) {
    if (!rx->tracing) return;
    size_t slot = rx->trace_count % RX_TRACE_MAX;
    rx->trace_t[slot] = (float)t_ms;
    rx->trace_luma[slot] = level;
    rx->trace_count++;
}

// With the hold taken: room for one more message at the end of the queue, which grows when it
// is full. 0 when out of memory (logged by the allocator).
static int _queue_room(RECEIVER *rx) {
    if (rx->nqueue < rx->queue_cap) return 1;
    size_t cap = rx->queue_cap ? 2 * rx->queue_cap : QUEUE_START;
    void *grown = _ka_realloc(rx->queue, cap, sizeof(DECODED_MESSAGE), "rx->queue",
                              "DECODED_MESSAGE", __LINE__, __FILE__);
    if (!grown) return 0;
    rx->queue = (DECODED_MESSAGE *)grown;
    rx->queue_cap = cap;
    return 1;
}

// With the hold taken: moves finished messages from the decoder to the queue. A message left
// with the decoder would run into the next one, so only a queue that cannot grow (out of
// memory, logged) leaves it there.
static void _take_messages(RECEIVER *rx) {
    while (_queue_room(rx) && decoder_poll_message(rx->decoder, &rx->queue[rx->nqueue]))
        rx->nqueue++;
}

// With the hold taken: one message at the end of the queue. 0 when out of memory.
static int _queue_push(RECEIVER *rx, const DECODED_MESSAGE *msg) {
    if (!_queue_room(rx)) return 0;
    rx->queue[rx->nqueue++] = *msg;
    return 1;
}

// --- The microphone's reader with hindsight ---

// Sound waiting for the reader: room for what comes while it reads a long message. Should it
// fall further behind (a stalled machine), the room doubles up to a minute, and only then is
// sound dropped.
constexpr size_t RX_EAR_PENDING_MS = 10000;
constexpr size_t RX_EAR_PENDING_MAX_MS = 60000;
// Stream time between two live readings: more often would not show letters sooner than the
// screen's redraws, and each reading costs a few ms per second of the message.
constexpr double RX_EAR_LIVE_EVERY_MS = 250;

// What the sink hands the reader, at a sample of the pending sound: a tone heard at t_ms, a
// silence between two tones from t_ms to to_ms (where a long message's live reading may be
// cut), or the decoder's end of a message (after its silence).
enum { RX_EAR_HEARD, RX_EAR_GAP, RX_EAR_END };
struct RX_EAR_EVENT {
    size_t at;
    int kind;
    double t_ms, to_ms;
};
// The shortest silence handed over as a gap: a word gap at 60 WPM.
constexpr double RX_EAR_GAP_MS = 100;

struct RX_EAR {
    std::mutex m; // guards the handoff: pending, events, fallbacks, dropped, quit
    std::condition_variable cv;
    std::vector<float> pending;
    std::vector<RX_EAR_EVENT> events;
    // The decoder's reading of each message ended, used only when the ear has none to give
    // (out of memory): a message is never lost.
    std::vector<DECODED_MESSAGE> fallbacks;
    size_t dropped = 0; // samples that found the pending sound full, heard as silence
    bool quit = false;
    bool heard = false;  // the sink's: a tone was reported in the message under way
    double last_up = -1; // the sink's: the latest end of a tone, stream ms
    std::thread thread;
    // The reader thread's own.
    EAR_LIVE *el = nullptr;
    double last_live_ms = -1e9;
    // Under the receiver's lock: the latest live reading.
    DECODED_MESSAGE live{};
    int shown = 0;
};

// With the receiver's hold taken (the sink): the block's sound, tones and the decoder's
// finished messages go to the reader.
static void _ear_take(RECEIVER *rx, const MIC_BLOCK *block) {
    RX_EAR *ear = rx->ear;
    static DECODED_MESSAGE msg;
    {
        std::lock_guard<std::mutex> g(ear->m);
        size_t room = ear->pending.capacity() - ear->pending.size();
        if (room < block->nsamples &&
            ear->pending.capacity() < MIC_RATE / 1000 * RX_EAR_PENDING_MAX_MS) {
            try {
                ear->pending.reserve(2 * ear->pending.capacity());
                room = ear->pending.capacity() - ear->pending.size();
            } catch (...) {
            }
        }
        size_t n = std::min(room, block->nsamples);
        if (block->samples)
            ear->pending.insert(ear->pending.end(), block->samples, block->samples + n);
        ear->dropped += block->nsamples - n;
        size_t at = ear->pending.size();
        for (size_t i = 0; i < block->nedges; i++) {
            const MIC_EDGE &e = block->edges[i];
            try {
                if (!e.down) {
                    ear->last_up = e.t_ms;
                } else if (!ear->heard) {
                    ear->heard = true;
                    ear->events.push_back(RX_EAR_EVENT{at, RX_EAR_HEARD, e.t_ms, 0});
                } else if (ear->last_up >= 0 && e.t_ms - ear->last_up >= RX_EAR_GAP_MS) {
                    ear->events.push_back(RX_EAR_EVENT{at, RX_EAR_GAP, ear->last_up, e.t_ms});
                }
            } catch (...) {
            }
        }
        while (decoder_poll_message(rx->decoder, &msg)) {
            ear->heard = false;
            ear->last_up = -1;
            try {
                ear->fallbacks.push_back(msg);
                ear->events.push_back(RX_EAR_EVENT{ear->pending.size(), RX_EAR_END, 0, 0});
            } catch (...) {
                _queue_push(rx, &msg); // the reader cannot take it: the decoder's reading stays
            }
        }
    }
    ear->cv.notify_one();
}

// The reader thread: with the receiver's hold taken, publishes what it read.
static void _ear_publish(RECEIVER *rx, const DECODED_MESSAGE *live, int shown) {
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        rx->ear->live = *live;
        rx->ear->shown = shown;
        wake = rx->wake;
    }
    lumikey_wake(wake);
}

struct _EAR_END {
    RECEIVER *rx;
    int queued;
};

// The reader thread: reads the whole message once more and queues what it says, the decoder's
// reading instead when the ear could not read (has_fallback).
static void _ear_end(RECEIVER *rx, const DECODED_MESSAGE *fallback) {
    RX_EAR *ear = rx->ear;
    _EAR_END out{rx, 0};
    int n = ear_live_end(
        ear->el,
        [](const EAR_MESSAGE *m, void *u) {
            _EAR_END *o = (_EAR_END *)u;
            static DECODED_MESSAGE msg;
            memset(&msg, 0, sizeof msg);
            ka_copy_text(msg.text, sizeof msg.text, m->text);
            ka_copy_text(msg.symbols, sizeof msg.symbols, m->symbols);
            msg.unit_ms = (uint32_t)lround(m->unit_ms);
            RX_HOLD hold(o->rx);
            o->queued += _queue_push(o->rx, &msg);
        },
        &out);
    if (n < 0) ka_log(LOG_ERR, "microphone: no memory to read the message again");
    static DECODED_MESSAGE none;
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        if (n < 0 && fallback && fallback->text[0]) _queue_push(rx, fallback);
        ear->live = none;
        ear->shown = 0;
        wake = rx->wake;
    }
    ear->last_live_ms = -1e9;
    lumikey_wake(wake);
}

static void _ear_thread(RECEIVER *rx) {
    RX_EAR *ear = rx->ear;
    std::vector<float> sound;
    std::vector<RX_EAR_EVENT> events;
    std::vector<DECODED_MESSAGE> fallbacks;
    static DECODED_MESSAGE live;
    try {
        sound.reserve(ear->pending.capacity());
    } catch (...) {
    }
    for (;;) {
        size_t dropped;
        bool quit;
        {
            std::unique_lock<std::mutex> g(ear->m);
            ear->cv.wait(
                g, [&] { return ear->quit || !ear->pending.empty() || !ear->events.empty(); });
            sound.swap(ear->pending);
            events.swap(ear->events);
            fallbacks.swap(ear->fallbacks);
            dropped = ear->dropped;
            ear->dropped = 0;
            quit = ear->quit;
        }
        if (dropped) {
            // Silence in their place keeps the stream's clock on the tone detector's.
            ka_log(LOG_ERR, "microphone: the reader fell %zu samples behind", dropped);
            std::vector<float> zeros(std::min<size_t>(dropped, 8 * MIC_RATE), 0.0f);
            for (size_t left = dropped; left > 0;) {
                size_t k = std::min(left, zeros.size());
                ear_live_feed(ear->el, zeros.data(), k);
                left -= k;
            }
        }
        size_t pos = 0, nfallback = 0;
        for (const RX_EAR_EVENT &e : events) {
            if (e.at > pos && ear_live_feed(ear->el, sound.data() + pos, e.at - pos) == 1)
                _ear_end(rx, nullptr);
            pos = std::max(pos, e.at);
            if (e.kind == RX_EAR_END) {
                _ear_end(rx, nfallback < fallbacks.size() ? &fallbacks[nfallback] : nullptr);
                nfallback++;
            } else if (e.kind == RX_EAR_GAP) {
                ear_live_gap(ear->el, e.t_ms, e.to_ms);
            } else {
                ear_live_heard(ear->el, e.t_ms);
            }
        }
        if (sound.size() > pos &&
            ear_live_feed(ear->el, sound.data() + pos, sound.size() - pos) == 1)
            _ear_end(rx, nullptr);
        sound.clear();
        events.clear();
        fallbacks.clear();
        if (quit) break;
        double now = ear_live_time_ms(ear->el);
        if (now - ear->last_live_ms >= RX_EAR_LIVE_EVERY_MS) {
            ear->last_live_ms = now;
            int shown = ear_live_read(ear->el, live.text, sizeof live.text, live.symbols,
                                      sizeof live.symbols, nullptr);
            if (shown >= 0) _ear_publish(rx, &live, shown == 1);
        }
    }
}

// Starts the reader for a microphone that starts now. 0 when it cannot (logged): the decoder's
// readings are then what the receiver shows and saves.
static int _ear_start(RECEIVER *rx) {
    RX_EAR *ear = new (std::nothrow) RX_EAR();
    if (!ear) return 0;
    EAR_LIVE_CONFIG c;
    ear_live_config_default(&c);
    c.rate = MIC_RATE;
    ear->el = ear_live_new(&c);
    try {
        ear->pending.reserve((size_t)MIC_RATE * RX_EAR_PENDING_MS / 1000);
        ear->events.reserve(64);
        ear->fallbacks.reserve(4);
    } catch (...) {
        ear_live_free(&ear->el);
    }
    if (!ear->el) {
        ka_log(LOG_ERR, "microphone: no memory for the reader");
        delete ear;
        return 0;
    }
    {
        RX_HOLD hold(rx);
        rx->ear = ear;
    }
    try {
        ear->thread = std::thread(_ear_thread, rx);
    } catch (const std::system_error &e) {
        ka_log(LOG_ERR, "microphone: no reader thread: %s", e.what());
        {
            RX_HOLD hold(rx);
            rx->ear = nullptr;
        }
        ear_live_free(&ear->el);
        delete ear;
        return 0;
    }
    return 1;
}

// Ends the reader once no sink call can come: the message under way (the decoder's reading of
// it in fallback, when finished) is read and queued before the thread ends.
static void _ear_stop(RECEIVER *rx, const DECODED_MESSAGE *fallback) {
    RX_EAR *ear = rx->ear;
    if (!ear) return;
    {
        std::lock_guard<std::mutex> g(ear->m);
        try {
            // The fallbacks pair with the ends in order; this end is the last of them.
            if (fallback) ear->fallbacks.push_back(*fallback);
            ear->events.push_back(RX_EAR_EVENT{ear->pending.size(), RX_EAR_END, 0, 0});
        } catch (...) {
        }
        ear->quit = true;
    }
    ear->cv.notify_one();
    ear->thread.join();
    {
        RX_HOLD hold(rx);
        rx->ear = nullptr;
    }
    ear_live_free(&ear->el);
    delete ear;
}

void receiver_light_sink(double t_ms, float luma, void *user) {
    RECEIVER *rx = (RECEIVER *)user;
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        _trace(rx, t_ms, luma);
        if (rx->decoder) {
            light_front_feed(&rx->light_front, rx->decoder, t_ms, luma);
            _take_messages(rx);
        }
        wake = rx->wake;
    }
    lumikey_wake(wake);
}

void receiver_sound_sink(const MIC_BLOCK *block, void *user) {
    RECEIVER *rx = (RECEIVER *)user;
    ALLEGRO_EVENT_SOURCE *wake;
    {
        RX_HOLD hold(rx);
        _trace(rx, block->t_ms, block->level);
        if (rx->decoder) {
            mic_feed(block, rx->decoder);
            if (rx->ear)
                _ear_take(rx, block);
            else
                _take_messages(rx);
        }
        wake = rx->wake;
    }
    lumikey_wake(wake);
}

static int64_t _mono_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// --- Trace files ---

size_t receiver_format_trace(RECEIVER *rx, const char *text, int64_t t0_mono_ns, char *out,
                             size_t out_size) {
    __ka_assert(rx, return 0);
    __ka_assert(out && out_size > 0, return 0);
    size_t len = 0;
    int w = snprintf(out, out_size, "# text: %s\n# t_ms,luma,tx\n", text ? text : "");
    if (w < 0 || (size_t)w >= out_size) {
        out[0] = '\0';
        return 0;
    }
    len = (size_t)w;

    // The light's edges, oldest first. Its sender may be writing them: the owner's copy is
    // matched by time, so a torn edge costs one row's tx.
    static uint64_t edge_ns[RX_TX_EDGES_MAX];
    static uint8_t edge_on[RX_TX_EDGES_MAX];
    size_t nedges = 0, e = 0;
    if (t0_mono_ns >= 0 && rx->hooks.tx_edges)
        nedges = rx->hooks.tx_edges(edge_ns, edge_on, RX_TX_EDGES_MAX, rx->hooks.user);
    int tx_on = 0;

    size_t n = rx->trace_count < RX_TRACE_MAX ? rx->trace_count : RX_TRACE_MAX;
    for (size_t k = rx->trace_count - n; k < rx->trace_count; k++) {
        size_t slot = k % RX_TRACE_MAX;
        int tx = -1;
        if (t0_mono_ns >= 0) {
            int64_t at = t0_mono_ns + (int64_t)llround((double)rx->trace_t[slot] * 1e6);
            while (e < nedges && at >= 0 && edge_ns[e] <= (uint64_t)at) tx_on = edge_on[e++];
            tx = tx_on ? 1 : 0;
        }
        char row[64];
        int rl = snprintf(row, sizeof row, "%.3f,%.2f,%d\n", (double)rx->trace_t[slot],
                          (double)rx->trace_luma[slot], tx);
        if (rl < 0 || len + (size_t)rl >= out_size) continue; // dropped, as the buffer says
        memcpy(out + len, row, (size_t)rl + 1);
        len += (size_t)rl;
    }
    return len;
}

// A name of the form trace_%Y%m%d_%H%M%S.csv that no earlier trace uses: two messages ending in
// the same second would otherwise share one file and the first trace would be lost.
static void _trace_name(char *name, size_t size) {
    time_t now = time(nullptr);
    struct tm local;
    char stamp[64];
    if (!localtime_r(&now, &local) || !strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local))
        snprintf(stamp, sizeof stamp, "%lld", (long long)now);
    snprintf(name, size, "trace_%s.csv", stamp);
    for (int k = 2; k < 100; k++) {
        char path[1024];
        struct stat st;
        if (!platform_save_path(name, path, sizeof path) || stat(path, &st) != 0) return;
        snprintf(name, size, "trace_%s_%d.csv", stamp, k);
    }
}

int receiver_dump_trace(RECEIVER *rx, const char *text) {
    __ka_assert(rx, return 0);
    if (!text) text = "";
    int64_t t0 = rx->source == RX_SOURCE_MIC ? rx->mic_t0_ns : capture_t0_mono_ns();
    char *buf = nullptr;
    size_t samples = 0;
    {
        RX_HOLD hold(rx);
        if (rx->trace_count == 0) return 0;
        samples = rx->trace_count < RX_TRACE_MAX ? rx->trace_count : RX_TRACE_MAX;
        size_t size = strlen(text) + 28 * samples + 96;
        if (rx->tracing) buf = (char *)malloc(size);
        if (buf) {
            receiver_format_trace(rx, text, t0, buf, size);
        } else if (rx->tracing) {
            ka_log(LOG_ERR, "no memory for the debug trace");
        }
        rx->trace_count = 0;
    }
    if (!buf) return 0;
    char name[96];
    _trace_name(name, sizeof name);
    int ok = store_write_save(name, buf);
    free(buf);
    if (ok) {
        ka_log(LOG_INFO, "debug trace written: %s (%zu samples)", name, samples);
    } else {
        ka_log(LOG_ERR, "could not save %s", name);
    }
    return ok;
}

// --- Saving messages ---

static void _save(RECEIVER *rx, const DECODED_MESSAGE *msg) {
    if (rx->received)
        received_add(rx->received, (int64_t)time(nullptr), msg->text, msg->symbols, msg->unit_ms);
    ka_copy_text(rx->last_saved, sizeof rx->last_saved, msg->text);
    if (rx->hooks.saved) rx->hooks.saved(msg, rx->hooks.user);
    receiver_dump_trace(rx, msg->text);
    ka_log(LOG_INFO, "received '%s' (unit %u ms)", msg->text, msg->unit_ms);
}

// With the hold taken: the queue's messages pass to the main thread's side, whose buffer the
// source's side takes in exchange. The number taken.
static size_t _swap_queue(RECEIVER *rx) {
    size_t n = rx->nqueue;
    DECODED_MESSAGE *q = rx->queue;
    size_t cap = rx->queue_cap;
    rx->queue = rx->taken, rx->queue_cap = rx->taken_cap;
    rx->taken = q, rx->taken_cap = cap;
    rx->nqueue = 0;
    return n;
}

static void _save_taken(RECEIVER *rx, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (rx->taken[i].text[0]) _save(rx, &rx->taken[i]);
}

void receiver_stop(RECEIVER *rx) {
    __ka_assert(rx, return );
    // Only the main thread creates and frees the decoder, so it reads the pointer unlocked.
    if (!rx->active && !rx->decoder) {
        rx->waiting_permission = 0;
        return;
    }
    // Not under the lock: the frame or block under way needs it to finish, and both stops wait
    // for it. Stopping the source that does not run costs nothing.
    capture_stop();
    mic_stop();
    static DECODED_MESSAGE last;
    size_t n;
    int finished = 0;
    {
        RX_HOLD hold(rx);
        memset(&last, 0, sizeof last);
        if (rx->decoder) {
            light_front_flush(&rx->light_front, rx->decoder);
            finished = decoder_finish(rx->decoder, &last);
        }
    }
    // The reader reads the message under way and queues it; the decoder's reading is then
    // only its fallback.
    int read_again = rx->ear != nullptr;
    _ear_stop(rx, finished ? &last : nullptr);
    {
        RX_HOLD hold(rx);
        n = _swap_queue(rx);
        decoder_free(&rx->decoder);
    }
    _save_taken(rx, n);
    if (!read_again && finished && last.text[0]) {
        _save(rx, &last);
    } else {
        receiver_dump_trace(rx, "");
    }
    rx->active = 0;
    rx->waiting_permission = 0;
}

int receiver_poll(RECEIVER *rx) {
    __ka_assert(rx, return RX_RUNNING);
    int lost = RX_RUNNING;
    int mic = rx->active && rx->source == RX_SOURCE_MIC ? mic_state() : 0;
    if (mic < 0) {
        // A server that was never reached is not one that went away.
        lost = mic == MIC_NO_INPUT ? RX_LOST_NO_INPUT : RX_LOST_SOUND;
    } else if (rx->active && rx->source == RX_SOURCE_CAMERA && capture_state() < 0) {
        lost = RX_LOST_CAMERA;
    }
    if (lost != RX_RUNNING) receiver_stop(rx);
    size_t n;
    {
        RX_HOLD hold(rx);
        n = _swap_queue(rx);
    }
    _save_taken(rx, n);
    return lost;
}

void receiver_live(RECEIVER *rx, DECODED_MESSAGE *out) {
    __ka_assert(rx && out, return );
    out->text[0] = out->symbols[0] = '\0';
    RX_HOLD hold(rx);
    if (rx->ear) {
        if (rx->ear->shown) *out = rx->ear->live;
    } else if (rx->decoder) {
        decoder_live(rx->decoder, out);
    }
}

void receiver_status(RECEIVER *rx, DECODER_STATUS *st) {
    __ka_assert(rx && st, return );
    memset(st, 0, sizeof *st);
    {
        RX_HOLD hold(rx);
        if (rx->decoder) decoder_status(rx->decoder, st);
    }
    if (rx->source == RX_SOURCE_MIC) mic_meter(st);
}

// --- Start ---

// Hands the receiver a fresh decoder and an empty queue and trace before a source starts.
// 0 when out of memory.
static int _arm(RECEIVER *rx, const RECEIVER_START *cfg) {
    DECODER_CONFIG dc;
    decoder_config_default(&dc);
    dc.eom_timeout_ms = cfg->eom_timeout_ms;
    MORSE_DECODER *dec = decoder_new(&dc);
    if (!dec) return 0;
    RX_HOLD hold(rx);
    decoder_free(&rx->decoder);
    rx->decoder = dec;
    light_front_reset(&rx->light_front);
    rx->nqueue = 0;
    rx->trace_count = 0;
    rx->tracing = cfg->tracing;
    rx->wake = cfg->wake;
    return 1;
}

static void _disarm(RECEIVER *rx) {
    RX_HOLD hold(rx);
    decoder_free(&rx->decoder);
}

static int _start_mic(RECEIVER *rx, const RECEIVER_START *cfg) {
    if (!_arm(rx, cfg)) return RX_NO_MEMORY;
    rx->mic_t0_ns = _mono_ns();
    _ear_start(rx);
    rx->active = mic_start(receiver_sound_sink, rx) == 1;
    if (!rx->active) {
        _ear_stop(rx, nullptr);
        _disarm(rx);
    }
    return rx->active ? RX_STARTED : RX_FAILED;
}

static int _start_camera(RECEIVER *rx, const RECEIVER_START *cfg) {
    if (!capture_supported()) return RX_UNSUPPORTED;
    if (!capture_has_permission()) {
        rx->waiting_permission = 1;
        capture_request_permission();
        return RX_ASKED;
    }
    // The camera session may need the flash.
    if (!cfg->keep_torch) torch_shutdown();
    if (!_arm(rx, cfg)) return RX_NO_MEMORY;
    float cx = 0.5f, cy = 0.5f;
    capture_get_roi(&cx, &cy, nullptr);
    capture_set_roi(cx, cy, cfg->roi_side);
    capture_set_front(cfg->front);
    int rc = capture_start(320, 240, cfg->fps, receiver_light_sink, rx);
    rx->active = rc == 1 || rc == 2;
    if (!rx->active) _disarm(rx);
    if (rx->active) return RX_STARTED;
    return rc == -1 ? RX_NO_PERMISSION : RX_FAILED;
}

int receiver_start(RECEIVER *rx, const RECEIVER_START *cfg) {
    __ka_assert(rx && cfg, return RX_FAILED);
    __ka_assert(cfg->source == RX_SOURCE_CAMERA || cfg->source == RX_SOURCE_MIC,
                return RX_UNSUPPORTED);
    if (rx->active) receiver_stop(rx);
    rx->source = cfg->source;
    rx->received = cfg->received;
    return cfg->source == RX_SOURCE_MIC ? _start_mic(rx, cfg) : _start_camera(rx, cfg);
}
