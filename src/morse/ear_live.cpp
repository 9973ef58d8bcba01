// src/morse/ear_live.cpp: the live reader. The message's sound gathers in one vector; every
// reading hands all of it to a fresh ear, so the reading of its start always has the whole
// message's hindsight. A reading costs a few milliseconds per second of sound.
#include "morse/ear_live.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/ka_common.hpp"

struct EAR_LIVE {
    EAR_LIVE_CONFIG cfg;
    std::vector<float> x; // the message's sound, from stream sample start
    uint64_t start = 0;   // the stream sample of x[0]
    double heard_ms = -1; // the first tone heard in this message; -1 while none is
    // A long message is read live in two parts: what lies before x[window] was read once and
    // kept as frozen text, so that a live reading costs no more than a window's worth.
    size_t window = 0;
    std::string frozen_text, frozen_symbols;
    double unit_ms = 0;                          // of the latest live reading
    std::vector<std::pair<double, double>> gaps; // silences heard, stream ms, oldest first
};

void ear_live_config_default(EAR_LIVE_CONFIG *cfg) {
    __ka_assert(cfg, return );
    cfg->rate = 8000;
    cfg->hold_ms = 2500;
    cfg->lead_ms = 8000;
    cfg->max_ms = 180000;
    cfg->window_ms = 8000;
}

EAR_LIVE *ear_live_new(const EAR_LIVE_CONFIG *cfg) {
    EAR_LIVE_CONFIG c;
    ear_live_config_default(&c);
    if (cfg) c = *cfg;
    if (c.rate < 2000) return nullptr;
    c.max_ms = std::max(c.max_ms, c.lead_ms + 1000);
    c.window_ms = std::max(c.window_ms, 5000u);
    EAR_LIVE *el = new (std::nothrow) EAR_LIVE();
    if (!el) return nullptr;
    el->cfg = c;
    return el;
}

void ear_live_free(EAR_LIVE **el) {
    if (!el || !*el) return;
    delete *el;
    *el = nullptr;
}

static size_t _samples_of(const EAR_LIVE *el, double ms) {
    return (size_t)(ms * el->cfg.rate / 1000.0);
}

double ear_live_time_ms(const EAR_LIVE *el) {
    __ka_assert(el, return 0);
    return (double)(el->start + el->x.size()) * 1000.0 / el->cfg.rate;
}

int ear_live_feed(EAR_LIVE *el, const float *samples, size_t n) {
    __ka_assert(el, return -1);
    __ka_assert(samples || n == 0, return -1);
    // Before the first tone only the lead is worth keeping: the time a tone detector may take
    // to find a tone, so that the ear still hears the marks it was found by.
    size_t lead = _samples_of(el, el->cfg.lead_ms);
    if (el->heard_ms < 0 && el->x.size() + n > 2 * lead && el->x.size() > lead) {
        size_t drop = el->x.size() - lead;
        el->x.erase(el->x.begin(), el->x.begin() + (ptrdiff_t)drop);
        el->start += drop;
    }
    try {
        el->x.insert(el->x.end(), samples, samples + n);
    } catch (...) {
        return -1;
    }
    return el->heard_ms >= 0 && el->x.size() >= _samples_of(el, el->cfg.max_ms) ? 1 : 0;
}

void ear_live_gap(EAR_LIVE *el, double from_ms, double to_ms) {
    __ka_assert(el, return );
    if (el->heard_ms < 0 || to_ms <= from_ms) return;
    if (el->gaps.size() == 64) el->gaps.erase(el->gaps.begin());
    try {
        el->gaps.emplace_back(from_ms, to_ms);
    } catch (...) {
    }
}

void ear_live_heard(EAR_LIVE *el, double t_ms) {
    __ka_assert(el, return );
    if (el->heard_ms >= 0) return;
    el->heard_ms = t_ms;
    // The message keeps lead_ms before its tone, no more: its length counts from there.
    double from = (t_ms - el->cfg.lead_ms) * el->cfg.rate / 1000.0;
    if (from > (double)el->start) {
        size_t drop = std::min(el->x.size(), (size_t)from - (size_t)el->start);
        el->x.erase(el->x.begin(), el->x.begin() + (ptrdiff_t)drop);
        el->start += drop;
    }
}

// One reading of everything kept, each message to fn. The messages' times are the stream's.
struct _RELAY {
    EAR_MESSAGE_FN fn;
    void *user;
    double offset_ms;
};

static int _read(EAR_LIVE *el, size_t from, size_t to, EAR_MESSAGE_FN fn, void *user) {
    EAR_CONFIG c;
    ear_config_default(&c);
    c.rate = el->cfg.rate;
    EAR *ear = ear_new(&c);
    if (!ear) return -1;
    int n = ear_feed(ear, el->x.data() + from, to - from);
    _RELAY relay{fn, user, (double)(el->start + from) * 1000.0 / el->cfg.rate};
    if (n == 0)
        n = ear_finish(
            ear,
            [](const EAR_MESSAGE *m, void *u) {
                _RELAY *r = (_RELAY *)u;
                EAR_MESSAGE shifted = *m;
                shifted.start_ms += r->offset_ms;
                shifted.end_ms += r->offset_ms;
                r->fn(&shifted, r->user);
            },
            &relay);
    ear_free(&ear);
    return n;
}

struct _LIVE_OUT {
    std::string text, symbols;
    double unit_ms;
};

static void _collect(const EAR_MESSAGE *m, void *u) {
    _LIVE_OUT *o = (_LIVE_OUT *)u;
    if (!*m->text) return;
    o->text += (o->text.empty() ? "" : " ") + std::string(m->text);
    o->symbols += (o->symbols.empty() ? "" : " / ") + std::string(m->symbols);
    o->unit_ms = m->unit_ms;
}

// When the live window has grown to twice its length, the part before the latest word gap that
// leaves half a window behind it is read once more and frozen: from there on only the rest is
// read live. The gap must be a word's (five units at the latest reading's speed), so that the
// cut splits no letter. -1 when out of memory.
static int _freeze(EAR_LIVE *el) {
    double rate = el->cfg.rate, win = (double)el->cfg.window_ms;
    double from_ms = (double)(el->start + el->window) * 1000.0 / rate;
    double now = ear_live_time_ms(el);
    if (el->unit_ms <= 0 || now - from_ms < 2 * win) return 0;
    double cut = -1;
    for (const auto &g : el->gaps) {
        double mid = 0.5 * (g.first + g.second);
        if (g.second - g.first >= 5 * el->unit_ms && mid > from_ms + 1000 && mid < now - win / 2)
            cut = mid;
    }
    if (cut < 0) return 0;
    size_t at = std::min(el->x.size(), (size_t)(cut * rate / 1000.0) - (size_t)el->start);
    _LIVE_OUT part{el->frozen_text, el->frozen_symbols, 0};
    if (_read(el, el->window, at, _collect, &part) < 0) return -1;
    el->frozen_text = part.text;
    el->frozen_symbols = part.symbols;
    el->window = at;
    return 1;
}

int ear_live_read(EAR_LIVE *el, char *text, size_t size, char *symbols, size_t symbols_size,
                  double *unit_ms) {
    __ka_assert(el, return -1);
    __ka_assert(text && size > 0, return -1);
    text[0] = '\0';
    if (symbols && symbols_size) symbols[0] = '\0';
    if (unit_ms) *unit_ms = 0;
    if (el->heard_ms < 0 || ear_live_time_ms(el) - el->heard_ms < el->cfg.hold_ms) return 0;
    try {
        if (_freeze(el) < 0) return -1;
        _LIVE_OUT out{el->frozen_text, el->frozen_symbols, 0};
        if (_read(el, el->window, el->x.size(), _collect, &out) < 0) return -1;
        if (out.unit_ms > 0) el->unit_ms = out.unit_ms;
        ka_copy_text(text, size, out.text.c_str());
        if (symbols && symbols_size) ka_copy_text(symbols, symbols_size, out.symbols.c_str());
        if (unit_ms) *unit_ms = el->unit_ms;
    } catch (...) {
        return -1;
    }
    return 1;
}

int ear_live_end(EAR_LIVE *el, EAR_MESSAGE_FN fn, void *user) {
    __ka_assert(el && fn, return -1);
    int n = el->heard_ms < 0 ? 0 : _read(el, 0, el->x.size(), fn, user);
    el->start += el->x.size();
    el->x.clear();
    el->heard_ms = -1;
    el->window = 0;
    el->frozen_text.clear();
    el->frozen_symbols.clear();
    el->unit_ms = 0;
    el->gaps.clear();
    return n;
}
