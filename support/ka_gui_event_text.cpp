// support/ka_gui_event_text.cpp: editing in a focused text area. Every position is a byte
// offset into UTF-8 text and every move or deletion steps over whole characters, so the buffer
// never holds half a character that we cut ourselves. The byte limit is checked before anything
// changes, so a refused edit leaves text, cursor and selection exactly as they were.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include "support/ka_common.hpp"
#include "support/ka_gui_event_internal.hpp"

static KA_GUI_TEXTAREA_DATA *_data(KA_GUI_CTX *ctx, int id) {
    KA_GUI_WIDGET *widget = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    return widget ? (KA_GUI_TEXTAREA_DATA *)widget->data : nullptr;
}

// Most bytes the buffer can take: the limit, and never more than the allocation allows.
static size_t _room(const KA_GUI_TEXTAREA_DATA *d) {
    size_t by_buffer = d->text_alloc ? d->text_alloc - 1 : 0;
    return std::min(d->char_limit, by_buffer);
}

// Clamps stale offsets into the text (a set_text may have shortened it under a selection).
static void _sane(KA_GUI_TEXTAREA_DATA *d) {
    d->cursor_pos = std::min(d->cursor_pos, d->text_len);
    d->sel_start = std::min(d->sel_start, d->text_len);
    d->sel_end = std::min(d->sel_end, d->text_len);
}

static void _selection(const KA_GUI_TEXTAREA_DATA *d, size_t *lo, size_t *hi) {
    *lo = std::min(d->sel_start, d->sel_end);
    *hi = std::max(d->sel_start, d->sel_end);
}

static void _collapse(KA_GUI_TEXTAREA_DATA *d, size_t pos) {
    d->cursor_pos = d->sel_start = d->sel_end = pos;
}

// The fixed end of a selection that Shift-moves extend: the end the cursor is not on.
static size_t _anchor(const KA_GUI_TEXTAREA_DATA *d) {
    if (d->sel_start == d->sel_end) return d->cursor_pos;
    return d->cursor_pos == d->sel_start ? d->sel_end : d->sel_start;
}

// Replaces bytes [lo, hi) by ins; 0 (nothing touched) when the result would pass the limit.
static int _replace(KA_GUI_TEXTAREA_DATA *d, size_t lo, size_t hi, const char *ins, size_t n) {
    if (!d->text) return 0;
    size_t new_len = d->text_len - (hi - lo) + n;
    if (new_len > _room(d)) return 0;
    memmove(d->text + lo + n, d->text + hi, d->text_len - hi);
    if (n) memcpy(d->text + lo, ins, n);
    d->text_len = new_len;
    d->text[new_len] = '\0';
    _collapse(d, lo + n);
    return 1;
}

// Tells the application the text changed; the context may be gone afterwards.
static void _changed(KA_GUI_CTX *ctx, int id) {
    KA_GUI_WIDGET *widget = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    if (!widget) return;
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)widget->data;
    d->cursor_time = _gui_now();
    d->scroll_from_wheel = 0;
    ctx->dirty = 1;
    if (d->on_change) d->on_change(id, d->text, d->user_data);
}

// Length of the well-formed UTF-8 sequence at s (at most n bytes), 0 when it is malformed
// (bad lead, missing continuation, overlong form, surrogate or beyond U+10FFFF).
static size_t _utf8_valid_len(const unsigned char *s, size_t n) {
    unsigned c = s[0];
    size_t len;
    unsigned cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, cp = c & 0x07;
    else
        return 0;
    if (len > n) return 0;
    for (size_t i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

static size_t _encode(int cp, char out[4]) {
    if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}

int _gui_textarea_paste(KA_GUI_CTX *ctx, int id, const char *raw) {
    KA_GUI_TEXTAREA_DATA *d = _data(ctx, id);
    if (!d || !raw) return 0;
    _sane(d);
    // Clipboard contents come from any program: only whole, valid characters get in, so the
    // buffer stays text that the cursor can walk character by character.
    std::string text;
    const unsigned char *s = (const unsigned char *)raw;
    size_t n = strlen(raw);
    for (size_t i = 0; i < n && text.size() < _GUI_PASTE_MAX_BYTES;) {
        size_t len = _utf8_valid_len(s + i, n - i);
        if (len == 0) {
            i++;
            continue;
        }
        if (len == 1 && s[i] < 32 && !(s[i] == '\n' && d->multiline)) {
            i++;
            continue;
        }
        if (text.size() + len > _GUI_PASTE_MAX_BYTES) break;
        text.append((const char *)s + i, len);
        i += len;
    }
    if (text.empty()) return 0;
    size_t lo, hi;
    _selection(d, &lo, &hi);
    if (!_replace(d, lo, hi, text.data(), text.size())) return 0;
    _changed(ctx, id);
    return 1;
}

// Copies the selection to CLIPBOARD; 1 when there was one.
static int _copy(KA_GUI_CTX *ctx, KA_GUI_TEXTAREA_DATA *d) {
    size_t lo, hi;
    _selection(d, &lo, &hi);
    if (lo == hi) return 0;
    std::string part(d->text + lo, hi - lo);
    _gui_clipboard_set(ctx, KA_CLIPBOARD_CLIPBOARD, part.c_str());
    return 1;
}

// Up and Down in a multi-line text area: the visual line above or below, as wrapped on screen.
static size_t _vertical(KA_GUI_CTX *ctx, int id, int down) {
    KA_GUI_WIDGET *widget = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)widget->data;
    KA_GUI_WINDOW *win = _gui_widget_window(ctx, widget);
    ALLEGRO_FONT *font = _gui_font(ctx, win, widget);
    if (!win || !font) return down ? d->text_len : 0;
    KA_GUI_TEXT_LAYOUT layout;
    _gui_textarea_layout(ctx, win, widget, font, &layout);
    if (layout.lines.empty()) return down ? d->text_len : 0;
    size_t row = _gui_line_of(layout.lines, d->cursor_pos);
    const KA_GUI_LINE &cur = layout.lines[row];
    size_t upto = std::min(d->cursor_pos, cur.end);
    float x = _gui_text_width(font, d->text + cur.start, upto - cur.start);
    if (!down && row == 0) return 0;
    if (down && row + 1 >= layout.lines.size()) return d->text_len;
    return _gui_line_pos_at(font, d->text, layout.lines[down ? row + 1 : row - 1], x);
}

// Moves the cursor to pos; with extend the selection runs from the old anchor, else it
// collapses.
static void _move(KA_GUI_TEXTAREA_DATA *d, size_t pos, int extend) {
    if (extend) {
        size_t anchor = _anchor(d);
        d->cursor_pos = pos;
        d->sel_start = anchor;
        d->sel_end = pos;
    } else {
        _collapse(d, pos);
    }
    d->cursor_time = _gui_now();
    d->scroll_from_wheel = 0;
}

int _gui_textarea_key(KA_GUI_CTX *ctx, int id, const ALLEGRO_KEYBOARD_EVENT *key) {
    KA_GUI_TEXTAREA_DATA *d = _data(ctx, id);
    if (!d || !d->text) return 0;
    _sane(d);
    int shift = (key->modifiers & ALLEGRO_KEYMOD_SHIFT) != 0;
    int ctrl = (key->modifiers & ALLEGRO_KEYMOD_CTRL) != 0;
    size_t lo, hi;
    _selection(d, &lo, &hi);

    if (ctrl) {
        switch (key->keycode) {
        case ALLEGRO_KEY_A:
            d->sel_start = 0;
            d->sel_end = d->cursor_pos = d->text_len;
            return 1;
        case ALLEGRO_KEY_C:
            _copy(ctx, d);
            return 1;
        case ALLEGRO_KEY_X:
            if (_copy(ctx, d) && _replace(d, lo, hi, "", 0)) _changed(ctx, id);
            return 1;
        case ALLEGRO_KEY_V: {
            // What does not fit the paste is never read: a foreign text may be megabytes long.
            char *clip = _gui_clipboard_get(ctx, KA_CLIPBOARD_CLIPBOARD, _GUI_PASTE_MAX_BYTES);
            if (clip) {
                _gui_textarea_paste(ctx, id, clip);
                free(clip);
            }
            return 1;
        }
        default:
            break;
        }
    }

    switch (key->keycode) {
    case ALLEGRO_KEY_BACKSPACE:
    case ALLEGRO_KEY_DELETE: {
        if (lo == hi) {
            if (key->keycode == ALLEGRO_KEY_BACKSPACE) {
                if (d->cursor_pos == 0) return 1;
                lo = _gui_utf8_prev(d->text, d->cursor_pos);
                hi = d->cursor_pos;
            } else {
                if (d->cursor_pos >= d->text_len) return 1;
                lo = d->cursor_pos;
                hi = _gui_utf8_next(d->text, d->text_len, d->cursor_pos);
            }
        }
        if (_replace(d, lo, hi, "", 0)) _changed(ctx, id);
        return 1;
    }
    case ALLEGRO_KEY_ENTER:
    case ALLEGRO_KEY_PAD_ENTER:
        if (!d->multiline) return 0;
        if (_replace(d, lo, hi, "\n", 1)) _changed(ctx, id);
        return 1;
    case ALLEGRO_KEY_HOME:
        _move(d, 0, shift);
        return 1;
    case ALLEGRO_KEY_END:
        _move(d, d->text_len, shift);
        return 1;
    case ALLEGRO_KEY_LEFT:
        if (!shift && lo != hi)
            _move(d, lo, 0);
        else
            _move(d, _gui_utf8_prev(d->text, d->cursor_pos), shift);
        return 1;
    case ALLEGRO_KEY_RIGHT:
        if (!shift && lo != hi)
            _move(d, hi, 0);
        else
            _move(d, _gui_utf8_next(d->text, d->text_len, d->cursor_pos), shift);
        return 1;
    case ALLEGRO_KEY_UP:
    case ALLEGRO_KEY_DOWN: {
        if (!d->multiline) return 0;
        size_t pos = _vertical(ctx, id, key->keycode == ALLEGRO_KEY_DOWN);
        _move(_data(ctx, id), pos, shift);
        return 1;
    }
    default:
        break;
    }

    if (key->unichar < 32) return 0;
    char bytes[4];
    size_t n = _encode(key->unichar, bytes);
    if (n == 0) return 0;
    // A full text area drops the key silently; the key was still ours.
    if (_replace(d, lo, hi, bytes, n)) _changed(ctx, id);
    return 1;
}
