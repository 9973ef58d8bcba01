// support/ka_gui_event.cpp: turning Allegro events into widget behaviour: hover, press, release
// and click, dragging, the wheel, keyboard focus and activation, combobox lists and the raw
// mouse events of custom widgets. Text editing lives in ka_gui_event_text.cpp.
//
// Callbacks run synchronously and may call back into the toolkit: close or raise windows, add
// widgets (which can move the window and widget arrays), change focus, feed another event, or
// destroy the whole context. So no window or widget pointer is kept across a callback: the code
// remembers ids, looks them up again afterwards, and stops as soon as the context is gone.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>
#include "support/ka_common.hpp"
#include "support/ka_gui_event_internal.hpp"

// How long a keyboard-activated button shows its pressed look, and how long the context keeps
// asking for frames so that the look also goes away on screen.
#define KEY_PRESS_LOOK_S 0.12
#define KEY_PRESS_REDRAW_S 0.17
// Tab never walks more widgets than this in one window.
#define FOCUS_CHAIN_MAX 512

// held_modifier_keys bits.
#define HELD_LCTRL 1
#define HELD_RCTRL 2
#define HELD_LSHIFT 4
#define HELD_RSHIFT 8
#define HELD_ALT 16
#define HELD_ALTGR 32

void _gui_ev_pointer(const KA_GUI_CTX *ctx, float *px, float *py) {
    *px = (float)ctx->mouse_x + ctx->global_scroll_x;
    *py = (float)ctx->mouse_y + ctx->global_scroll_y;
}

int _gui_ev_modifiers(const KA_GUI_CTX *ctx) {
    int held = ctx->held_modifier_keys, mods = 0;
    if (held & (HELD_LSHIFT | HELD_RSHIFT)) mods |= ALLEGRO_KEYMOD_SHIFT;
    if (held & (HELD_LCTRL | HELD_RCTRL)) mods |= ALLEGRO_KEYMOD_CTRL;
    if (held & HELD_ALT) mods |= ALLEGRO_KEYMOD_ALT;
    if (held & HELD_ALTGR) mods |= ALLEGRO_KEYMOD_ALTGR;
    return mods;
}

static int _held_bit(int keycode) {
    switch (keycode) {
    case ALLEGRO_KEY_LSHIFT:
        return HELD_LSHIFT;
    case ALLEGRO_KEY_RSHIFT:
        return HELD_RSHIFT;
    case ALLEGRO_KEY_LCTRL:
        return HELD_LCTRL;
    case ALLEGRO_KEY_RCTRL:
        return HELD_RCTRL;
    case ALLEGRO_KEY_ALT:
        return HELD_ALT;
    case ALLEGRO_KEY_ALTGR:
        return HELD_ALTGR;
    default:
        return 0;
    }
}

// A key char carries the modifiers Allegro saw; they win over our own key-down bookkeeping,
// which misses keys pressed while another program had the focus.
static void _refresh_held(KA_GUI_CTX *ctx, unsigned mods) {
    int held = ctx->held_modifier_keys;
    auto sync = [&held](bool on, int both, int one) {
        if (!on)
            held &= ~both;
        else if (!(held & both))
            held |= one;
    };
    sync(mods & ALLEGRO_KEYMOD_SHIFT, HELD_LSHIFT | HELD_RSHIFT, HELD_LSHIFT);
    sync(mods & ALLEGRO_KEYMOD_CTRL, HELD_LCTRL | HELD_RCTRL, HELD_LCTRL);
    sync(mods & ALLEGRO_KEYMOD_ALT, HELD_ALT, HELD_ALT);
    sync(mods & ALLEGRO_KEYMOD_ALTGR, HELD_ALTGR, HELD_ALTGR);
    ctx->held_modifier_keys = held;
}

static int _inside(float px, float py, float x, float y, float w, float h) {
    return px >= x && px < x + w && py >= y && py < y + h;
}

static int _widget_contains(const KA_GUI_WINDOW *win, const KA_GUI_WIDGET *w, float px, float py) {
    float ax, ay;
    _gui_widget_origin(win, w, &ax, &ay);
    return _inside(px, py, ax, ay, w->w, w->h);
}

static int _window_open(const KA_GUI_WINDOW *win) {
    return win && (win->state & KA_GUI_WIN_OPEN);
}

// ---- custom widgets

// Sends one raw mouse event; returns the callback's answer (0 without a callback).
static int _custom_send(KA_GUI_CTX *ctx, int id, int type, int button, int dz) {
    KA_GUI_WIDGET *widget = _gui_widget(ctx, id, KA_GUI_CUSTOM);
    if (!widget) return 0;
    KA_GUI_CUSTOM_DATA *d = (KA_GUI_CUSTOM_DATA *)widget->data;
    KA_GUI_WINDOW *win = _gui_widget_window(ctx, widget);
    if (!d || !d->on_mouse || !win) return 0;
    float px, py, ax, ay;
    _gui_ev_pointer(ctx, &px, &py);
    _gui_widget_origin(win, widget, &ax, &ay);
    KA_GUI_MOUSE_EVENT ev = {type, button, px - ax, py - ay, dz, _gui_ev_modifiers(ctx)};
    return d->on_mouse(id, &ev, d->mouse_user_data);
}

// ---- combobox lists

static KA_GUI_COMBOBOX_DATA *_combo(KA_GUI_WIDGET *w) {
    return w ? (KA_GUI_COMBOBOX_DATA *)w->data : nullptr;
}

static void _close_list(KA_GUI_CTX *ctx) {
    KA_GUI_WIDGET *w = _gui_widget(ctx, ctx->open_combobox_id, KA_GUI_COMBOBOX);
    if (w) _combo(w)->is_open = 0;
    ctx->open_combobox_id = -1;
    ctx->dirty = 1;
}

// The open list with its geometry, or null (a list whose window closed meanwhile is closed).
static KA_GUI_WIDGET *_open_list(KA_GUI_CTX *ctx, KA_GUI_WINDOW **win_out, KA_GUI_LIST_GEOM *g) {
    if (ctx->open_combobox_id < 0) return nullptr;
    KA_GUI_WIDGET *w = _gui_widget(ctx, ctx->open_combobox_id, KA_GUI_COMBOBOX);
    KA_GUI_WINDOW *win = w ? _gui_widget_window(ctx, w) : nullptr;
    if (!w || !_window_open(win) || !_combo(w)->is_open) {
        _close_list(ctx);
        return nullptr;
    }
    _gui_combobox_list_geom(ctx, win, w, g);
    *win_out = win;
    return w;
}

// Scrolls so that the highlighted row is shown.
static void _keep_highlight_visible(KA_GUI_COMBOBOX_DATA *d, const KA_GUI_LIST_GEOM &g) {
    int rows = std::max(1, g.rows);
    if (d->highlight_index < 0) return;
    if (d->highlight_index < d->scroll_offset) d->scroll_offset = d->highlight_index;
    if (d->highlight_index >= d->scroll_offset + rows)
        d->scroll_offset = d->highlight_index - rows + 1;
    d->scroll_offset = std::clamp(d->scroll_offset, 0, g.max_scroll);
}

static void _move_highlight(KA_GUI_COMBOBOX_DATA *d, int to, const KA_GUI_LIST_GEOM &g) {
    if (d->nb_items == 0) return;
    d->highlight_index = std::clamp(to, 0, (int)d->nb_items - 1);
    _keep_highlight_visible(d, g);
}

// Row of the list under the point, or -1.
static int _list_row_at(const KA_GUI_COMBOBOX_DATA *d, const KA_GUI_LIST_GEOM *g, float py) {
    if (g->item_h <= 0) return -1;
    int row = d->scroll_offset + (int)std::floor((py - g->y) / g->item_h);
    return row >= 0 && row < (int)d->nb_items ? row : -1;
}

// Chooses item `index` of combobox `id`, closes its list and tells the application.
static void _combo_choose(KA_GUI_CTX *ctx, int id, int index) {
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_COMBOBOX);
    if (!w) return;
    KA_GUI_COMBOBOX_DATA *d = _combo(w);
    d->selected_index = index;
    if (ctx->open_combobox_id == id) _close_list(ctx);
    d->is_open = 0;
    ctx->dirty = 1;
    if (d->on_select) d->on_select(id, index, d->user_data);
}

// A primary press while a list is open. 1 when the press ends there.
static int _list_press(KA_GUI_CTX *ctx, float px, float py) {
    KA_GUI_WINDOW *win;
    KA_GUI_LIST_GEOM g;
    KA_GUI_WIDGET *w = _open_list(ctx, &win, &g);
    if (!w) return 0;
    KA_GUI_COMBOBOX_DATA *d = _combo(w);
    if (_inside(px, py, g.x, g.y, g.w, g.h)) {
        if (g.scrollbar && px >= g.x + g.w - g.strip_w) {
            // The strip maps its height onto the items: the pressed point becomes the middle row.
            float ratio = g.h > 0 ? (py - g.y) / g.h : 0;
            int centre = (int)std::floor(ratio * (float)d->nb_items) - g.rows / 2;
            d->scroll_offset = std::clamp(centre, 0, g.max_scroll);
            ctx->dirty = 1;
            return 1;
        }
        int row = _list_row_at(d, &g, py);
        if (row >= 0) _combo_choose(ctx, w->id, row);
        return 1;
    }
    int on_combo = _widget_contains(win, w, px, py);
    _close_list(ctx);
    return on_combo;
}

static void _combo_toggle(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w) {
    KA_GUI_COMBOBOX_DATA *d = _combo(w);
    if (d->is_open) {
        d->is_open = 0;
        if (ctx->open_combobox_id == w->id) ctx->open_combobox_id = -1;
        return;
    }
    if (ctx->open_combobox_id >= 0) _close_list(ctx);
    d->is_open = 1;
    ctx->open_combobox_id = w->id;
    d->highlight_index = d->selected_index;
    KA_GUI_LIST_GEOM g;
    _gui_combobox_list_geom(ctx, win, w, &g);
    int rows = std::max(1, g.rows);
    if (d->selected_index < 0 || (int)d->nb_items <= rows)
        d->scroll_offset = 0;
    else
        d->scroll_offset = std::clamp(d->selected_index - rows / 2, 0, g.max_scroll);
}

// ---- labels

// The selected text of a label, or "".
static std::string _label_selection(KA_GUI_WIDGET *w) {
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
    int len = (int)strlen(d->text);
    int lo = std::clamp(std::min(d->sel_start, d->sel_end), 0, len);
    int hi = std::clamp(std::max(d->sel_start, d->sel_end), 0, len);
    if (d->sel_start < 0 || d->sel_end < 0 || lo == hi) return std::string();
    return std::string(d->text + lo, (size_t)(hi - lo));
}

// One mouse selection at a time: a new one ends every other label's, so that Control+C and
// PRIMARY never pick up an old one.
static void _clear_label_selections(KA_GUI_CTX *ctx) {
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        for (size_t j = 0; j < win->nb_widgets; j++) {
            if (win->widgets[j]->type != KA_GUI_LABEL) continue;
            KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)win->widgets[j]->data;
            d->sel_start = d->sel_end = -1;
            d->sel_dragging = 0;
        }
    }
}

// ---- pointer

// Every widget id of the open windows whose state has `bit`, in window then widget order.
static std::vector<int> _ids_with_state(KA_GUI_CTX *ctx, int bit, int open_only) {
    std::vector<int> ids;
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        if (open_only && !_window_open(win)) continue;
        for (size_t j = 0; j < win->nb_widgets; j++)
            if (win->widgets[j]->state & bit) ids.push_back(win->widgets[j]->id);
    }
    return ids;
}

static void _set_hover(KA_GUI_CTX *ctx, KA_GUI_WIDGET *hovered) {
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        if (!_window_open(win)) continue;
        for (size_t j = 0; j < win->nb_widgets; j++) win->widgets[j]->state &= ~KA_GUI_STATE_HOVER;
    }
    if (hovered) hovered->state |= KA_GUI_STATE_HOVER;
}

static int _takes_focus_on_press(int type) {
    switch (type) {
    case KA_GUI_SLIDER:
    case KA_GUI_TEXTAREA:
    case KA_GUI_CHECKBOX:
    case KA_GUI_COMBOBOX:
    case KA_GUI_SCROLLBAR:
    case KA_GUI_LISTBOX:
    case KA_GUI_RADIOLIST:
    case KA_GUI_DROPMENU:
    case KA_GUI_DATAGRID:
    case KA_GUI_MARKDOWN:
        return 1;
    default:
        return 0;
    }
}

// A press on a text area: on its scrollbar strip it scrolls, elsewhere it places the cursor.
static void _textarea_press(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w, float px,
                            float py) {
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
    ALLEGRO_FONT *font = _gui_font(ctx, win, w);
    if (d->multiline && font) {
        KA_GUI_TEXT_LAYOUT layout;
        _gui_textarea_layout(ctx, win, w, font, &layout);
        float ax, ay;
        _gui_widget_origin(win, w, &ax, &ay);
        if (layout.scrollbar && px >= ax + w->w - ctx->style.scrollbar_size) {
            float content = layout.line_h * (float)layout.lines.size();
            float range = std::max(0.0f, content - layout.ih);
            float ratio = w->h > 0 ? std::clamp((py - ay) / w->h, 0.0f, 1.0f) : 0;
            d->scroll_y = (int)std::lround(ratio * range);
            d->scroll_from_wheel = 1;
            return;
        }
    }
    size_t pos = _gui_textarea_pos_at(ctx, win, w, px, py);
    d->cursor_pos = d->sel_start = d->sel_end = pos;
    d->cursor_time = _gui_now();
    d->scroll_from_wheel = 0;
}

static int _primary_down(KA_GUI_CTX *ctx, float px, float py) {
    if (ctx->open_combobox_id >= 0) {
        int ended = _list_press(ctx, px, py);
        if (_gui_ev_gone(ctx) || ended) return 1;
    }
    KA_GUI_WINDOW *win = _gui_window_at(ctx, px, py);
    if (!win) return 0;
    int win_id = win->id;
    ka_gui_raise_window(ctx, win_id);
    ka_gui_set_focus(ctx, -1);
    ctx->dirty = 1;
    win = _gui_window(ctx, win_id);
    KA_GUI_WIDGET *w = win ? _gui_widget_at(win, px, py) : nullptr;
    if (!w) return 1;
    w->state |= KA_GUI_STATE_HOVER | KA_GUI_STATE_PRESSED;
    int id = w->id;
    if (_takes_focus_on_press(w->type)) ka_gui_set_focus(ctx, id);
    w = _gui_widget(ctx, id, 0);
    win = w ? _gui_widget_window(ctx, w) : nullptr;
    if (!w || !win) return 1;
    switch (w->type) {
    case KA_GUI_SLIDER:
        _gui_slider_from_pointer(ctx, win, w, px, py);
        break;
    case KA_GUI_TEXTAREA:
        _textarea_press(ctx, win, w, px, py);
        break;
    case KA_GUI_COMBOBOX:
        _combo_toggle(ctx, win, w);
        break;
    case KA_GUI_LABEL: {
        _clear_label_selections(ctx);
        KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
        d->sel_start = d->sel_end = _gui_label_pos_at(ctx, win, w, px, py);
        d->sel_dragging = 1;
        break;
    }
    case KA_GUI_CUSTOM:
        _custom_send(ctx, id, KA_GUI_MOUSE_PRESS, 1, 0);
        break;
    default:
        break;
    }
    return 1;
}

// Secondary press: only custom widgets hear of it.
static int _secondary_down(KA_GUI_CTX *ctx, float px, float py) {
    KA_GUI_WINDOW *win = _gui_window_at(ctx, px, py);
    KA_GUI_WIDGET *w = win ? _gui_widget_at(win, px, py) : nullptr;
    if (!w || w->type != KA_GUI_CUSTOM) return 0;
    _custom_send(ctx, w->id, KA_GUI_MOUSE_PRESS, 2, 0);
    return 1;
}

// Middle press: the PRIMARY selection goes into the focused text area at its cursor; what is
// selected there stays (it is usually the very text being pasted).
static int _middle_down(KA_GUI_CTX *ctx) {
    int id = ctx->focused_widget_id;
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    if (!w) return 0;
    char *primary = _gui_clipboard_get(ctx, KA_CLIPBOARD_PRIMARY, _GUI_PASTE_MAX_BYTES);
    if (!primary) return 1;
    w = _gui_widget(ctx, id, KA_GUI_TEXTAREA);
    if (w) {
        KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
        size_t at = std::min(d->cursor_pos, d->text_len);
        d->cursor_pos = d->sel_start = d->sel_end = at;
        _gui_textarea_paste(ctx, id, primary);
    }
    free(primary);
    return 1;
}

// Offers the text just selected with the mouse as PRIMARY, as X programs do.
static void _publish_primary(KA_GUI_CTX *ctx, int label_id) {
    if (!ctx->display || !ka_clipboard_available()) return;
    std::string text;
    KA_GUI_WIDGET *label = _gui_widget(ctx, label_id, KA_GUI_LABEL);
    if (label) text = _label_selection(label);
    if (text.empty()) {
        KA_GUI_WIDGET *w = _gui_widget(ctx, ctx->focused_widget_id, KA_GUI_TEXTAREA);
        if (w) {
            KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
            size_t lo = std::min({d->sel_start, d->sel_end, d->text_len});
            size_t hi = std::min(std::max(d->sel_start, d->sel_end), d->text_len);
            if (d->text && hi > lo) text.assign(d->text + lo, hi - lo);
        }
    }
    if (!text.empty()) _gui_clipboard_set(ctx, KA_CLIPBOARD_PRIMARY, text.c_str());
}

static int _primary_up(KA_GUI_CTX *ctx, float px, float py) {
    int click_id = -1, toggle_id = -1, label_id = -1;
    // Pressed bits of closed windows go too, or a window closed mid-press would keep one.
    for (int id : _ids_with_state(ctx, KA_GUI_STATE_PRESSED, 0)) {
        KA_GUI_WIDGET *w = _gui_widget(ctx, id, 0);
        if (!w || !(w->state & KA_GUI_STATE_PRESSED)) continue;
        w->state &= ~KA_GUI_STATE_PRESSED;
        KA_GUI_WINDOW *win = _gui_widget_window(ctx, w);
        if (!_window_open(win)) continue;
        int over = _widget_contains(win, w, px, py);
        if (w->type == KA_GUI_BUTTON && over) {
            KA_GUI_BUTTON_DATA *d = (KA_GUI_BUTTON_DATA *)w->data;
            if (d->toggle_mode) d->toggled = !d->toggled;
            if (d->on_click && click_id < 0) click_id = id;
        } else if (w->type == KA_GUI_CHECKBOX && over) {
            KA_GUI_CHECKBOX_DATA *d = (KA_GUI_CHECKBOX_DATA *)w->data;
            d->checked = !d->checked;
            if (d->on_toggle && toggle_id < 0) toggle_id = id;
        } else if (w->type == KA_GUI_LABEL) {
            ((KA_GUI_LABEL_DATA *)w->data)->sel_dragging = 0;
            label_id = id;
        } else if (w->type == KA_GUI_CUSTOM) {
            _custom_send(ctx, id, KA_GUI_MOUSE_RELEASE, 1, 0);
            if (_gui_ev_gone(ctx)) return 1;
        }
        ctx->dirty = 1;
    }
    KA_GUI_WIDGET *w = _gui_widget(ctx, click_id, KA_GUI_BUTTON);
    if (w) {
        KA_GUI_BUTTON_DATA *d = (KA_GUI_BUTTON_DATA *)w->data;
        if (d->on_click) d->on_click(click_id, d->user_data);
        if (_gui_ev_gone(ctx)) return 1;
    }
    w = _gui_widget(ctx, toggle_id, KA_GUI_CHECKBOX);
    if (w) {
        KA_GUI_CHECKBOX_DATA *d = (KA_GUI_CHECKBOX_DATA *)w->data;
        if (d->on_toggle) d->on_toggle(toggle_id, d->checked, d->user_data);
        if (_gui_ev_gone(ctx)) return 1;
    }
    _publish_primary(ctx, label_id);
    return 1;
}

static int _motion(KA_GUI_CTX *ctx, float px, float py) {
    KA_GUI_WINDOW *win = _gui_window_at(ctx, px, py);
    KA_GUI_WIDGET *hovered = win ? _gui_widget_at(win, px, py) : nullptr;
    int before = 0;
    for (size_t i = 0; i < ctx->nb_windows && !before; i++)
        for (size_t j = 0; j < ctx->windows[i]->nb_widgets && !before; j++)
            before = (ctx->windows[i]->widgets[j]->state & KA_GUI_STATE_HOVER) != 0;
    if (win || before || ctx->mouse_b1) ctx->dirty = 1;
    _set_hover(ctx, hovered);
    int used = win != nullptr;

    if (!ctx->mouse_b1 && hovered && hovered->type == KA_GUI_CUSTOM) {
        _custom_send(ctx, hovered->id, KA_GUI_MOUSE_MOVE, 0, 0);
        if (_gui_ev_gone(ctx)) return 1;
    }
    if (ctx->mouse_b1) {
        for (int id : _ids_with_state(ctx, KA_GUI_STATE_PRESSED, 1)) {
            KA_GUI_WIDGET *w = _gui_widget(ctx, id, 0);
            KA_GUI_WINDOW *wwin = w ? _gui_widget_window(ctx, w) : nullptr;
            if (!w || !_window_open(wwin) || !(w->state & KA_GUI_STATE_PRESSED)) continue;
            used = 1;
            if (w->type == KA_GUI_SLIDER) {
                _gui_slider_from_pointer(ctx, wwin, w, px, py);
            } else if (w->type == KA_GUI_TEXTAREA) {
                KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
                size_t pos = _gui_textarea_pos_at(ctx, wwin, w, px, py);
                d->cursor_pos = d->sel_end = pos;
                d->scroll_from_wheel = 0;
            } else if (w->type == KA_GUI_LABEL) {
                KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
                if (d->sel_dragging) d->sel_end = _gui_label_pos_at(ctx, wwin, w, px, py);
            } else if (w->type == KA_GUI_CUSTOM) {
                _custom_send(ctx, id, KA_GUI_MOUSE_DRAG, 1, 0);
            }
            if (_gui_ev_gone(ctx)) return 1;
        }
    }
    KA_GUI_WINDOW *lwin;
    KA_GUI_LIST_GEOM g;
    KA_GUI_WIDGET *list = _open_list(ctx, &lwin, &g);
    if (list && _inside(px, py, g.x, g.y, g.w, g.h) &&
        !(g.scrollbar && px >= g.x + g.w - g.strip_w)) {
        KA_GUI_COMBOBOX_DATA *d = _combo(list);
        int row = _list_row_at(d, &g, py);
        if (row >= 0 && row != d->highlight_index) {
            d->highlight_index = row;
            ctx->dirty = 1;
        }
        used = 1;
    }
    return used;
}

static int _wheel_window(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, int dz) {
    if (win && (win->flags & KA_GUI_WIN_AUTO_SCROLLBAR)) {
        float content = 0;
        for (size_t j = 0; j < win->nb_widgets; j++)
            content = std::max(content, win->widgets[j]->y + win->widgets[j]->h);
        float body = win->h - ((win->flags & KA_GUI_WIN_FRAMELESS) ? 0 : win->titlebar_h);
        float range = std::max(0.0f, content - body);
        if (range > 0) {
            win->scroll_y =
                std::clamp(win->scroll_y - (float)dz * ctx->style.scroll_step, 0.0f, range);
            ctx->dirty = 1;
            return 1;
        }
    }
    float right, bottom;
    _gui_extent(ctx, &right, &bottom);
    float range = bottom - ctx->display_h;
    if (!ctx->display_size_set || range <= 0) return 0;
    ctx->global_scroll_y =
        std::clamp(ctx->global_scroll_y - (float)dz * ctx->style.global_scroll_step, 0.0f, range);
    ctx->dirty = 1;
    return 1;
}

static int _wheel(KA_GUI_CTX *ctx, float px, float py, int dz) {
    KA_GUI_WINDOW *lwin;
    KA_GUI_LIST_GEOM g;
    KA_GUI_WIDGET *list = _open_list(ctx, &lwin, &g);
    if (list) {
        KA_GUI_COMBOBOX_DATA *d = _combo(list);
        if (_inside(px, py, g.x, g.y, g.w, g.h)) {
            d->scroll_offset = std::clamp(d->scroll_offset - dz, 0, g.max_scroll);
            int row = _list_row_at(d, &g, py);
            if (row >= 0) d->highlight_index = row;
        } else {
            int from =
                d->highlight_index >= 0 ? d->highlight_index : std::max(0, d->selected_index);
            _move_highlight(d, from - dz, g);
        }
        ctx->dirty = 1;
        return 1;
    }
    KA_GUI_WINDOW *win = _gui_window_at(ctx, px, py);
    KA_GUI_WIDGET *w = win ? _gui_widget_at(win, px, py) : nullptr;
    int win_id = win ? win->id : -1;
    if (w) {
        int id = w->id;
        switch (w->type) {
        case KA_GUI_CUSTOM:
            if (_custom_send(ctx, id, KA_GUI_MOUSE_WHEEL, 0, dz)) return 1;
            if (_gui_ev_gone(ctx)) return 1;
            break;
        case KA_GUI_SLIDER: {
            KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
            _gui_slider_set_value(ctx, w, d->value + dz * _gui_slider_key_step(d));
            return 1;
        }
        case KA_GUI_TEXTAREA: {
            KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)w->data;
            ALLEGRO_FONT *font = _gui_font(ctx, win, w);
            if (!d->multiline || !font) break;
            KA_GUI_TEXT_LAYOUT layout;
            _gui_textarea_layout(ctx, win, w, font, &layout);
            int range = (int)std::max(0.0f, layout.line_h * (float)layout.lines.size() - layout.ih);
            d->scroll_y = std::clamp(d->scroll_y - dz * (int)ctx->style.scroll_step, 0, range);
            d->scroll_from_wheel = 1;
            ctx->dirty = 1;
            return 1;
        }
        case KA_GUI_LABEL: {
            KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)w->data;
            ALLEGRO_FONT *font = _gui_font(ctx, win, w);
            if (d->align != KA_GUI_ALIGN_JUSTIFY || !font) break;
            KA_GUI_LABEL_LAYOUT layout;
            _gui_label_layout(ctx, w, font, &layout);
            float range = std::max(0.0f, layout.content_h - w->h);
            if (range <= 0) break;
            d->scroll_y = std::clamp(d->scroll_y - (float)dz * ctx->style.scroll_step, 0.0f, range);
            ctx->dirty = 1;
            return 1;
        }
        default:
            break;
        }
    }
    return _wheel_window(ctx, _gui_window(ctx, win_id), dz);
}

static int _mouse_axes(KA_GUI_CTX *ctx, const ALLEGRO_MOUSE_EVENT *m) {
    ctx->mouse_x = m->x;
    ctx->mouse_y = m->y;
    float px, py;
    _gui_ev_pointer(ctx, &px, &py);
    int used = _motion(ctx, px, py);
    if (_gui_ev_gone(ctx) || m->dz == 0) return used;
    ctx->dirty = 1;
    return _wheel(ctx, px, py, m->dz) | used;
}

// ---- keys

// Tab stops: what a press would focus, and buttons, which take the focus only from the keyboard.
static int _focusable(const KA_GUI_WIDGET *w) {
    if (!w->visible || !w->enabled) return 0;
    return w->type == KA_GUI_BUTTON || _takes_focus_on_press(w->type);
}

static int _tab(KA_GUI_CTX *ctx, int backwards) {
    KA_GUI_WIDGET *focused = _gui_widget(ctx, ctx->focused_widget_id, 0);
    KA_GUI_WINDOW *win = focused ? _gui_widget_window(ctx, focused) : nullptr;
    if (!win) {
        for (size_t i = ctx->nb_windows; i-- > 0 && !win;) {
            KA_GUI_WINDOW *cand = ctx->windows[i];
            if (_window_open(cand) && !(cand->state & KA_GUI_WIN_MINIMISED)) win = cand;
        }
        focused = nullptr;
    }
    if (!win) return 0;
    std::vector<int> chain;
    int at = -1;
    for (size_t j = 0; j < win->nb_widgets && chain.size() < FOCUS_CHAIN_MAX; j++) {
        KA_GUI_WIDGET *w = win->widgets[j];
        if (!_focusable(w)) continue;
        if (w == focused) at = (int)chain.size();
        chain.push_back(w->id);
    }
    if (chain.empty()) return 0;
    int n = (int)chain.size(), next;
    if (at < 0)
        next = backwards ? n - 1 : 0;
    else
        next = ((at + (backwards ? -1 : 1)) % n + n) % n;
    ka_gui_set_focus(ctx, chain[(size_t)next]);
    return 1;
}

// Arrow keys on a focused button: the nearest button whose centre lies in that direction,
// preferring ones in line with it.
static void _arrow_to_button(KA_GUI_CTX *ctx, KA_GUI_WIDGET *from, int dx, int dy) {
    KA_GUI_WINDOW *win = _gui_widget_window(ctx, from);
    if (!win) return;
    float cx = from->x + from->w / 2, cy = from->y + from->h / 2;
    int best = -1;
    float best_score = 0;
    for (size_t j = 0; j < win->nb_widgets; j++) {
        KA_GUI_WIDGET *w = win->widgets[j];
        if (w == from || w->type != KA_GUI_BUTTON || !w->visible || !w->enabled) continue;
        float ox = w->x + w->w / 2 - cx, oy = w->y + w->h / 2 - cy;
        float along = ox * (float)dx + oy * (float)dy;
        float across = std::fabs(ox * (float)dy) + std::fabs(oy * (float)dx);
        if (along <= 0) continue;
        float score = along * along + 4 * across * across;
        if (best < 0 || score < best_score) best = w->id, best_score = score;
    }
    if (best >= 0) ka_gui_set_focus(ctx, best);
}

static int _is_enter(int keycode) {
    return keycode == ALLEGRO_KEY_ENTER || keycode == ALLEGRO_KEY_PAD_ENTER;
}

static int _button_key(KA_GUI_CTX *ctx, KA_GUI_WIDGET *w, const ALLEGRO_KEYBOARD_EVENT *k) {
    KA_GUI_BUTTON_DATA *d = (KA_GUI_BUTTON_DATA *)w->data;
    if (_is_enter(k->keycode)) {
        // A held Enter repeats key chars; only the first one clicks.
        if (k->repeat) return 1;
        if (d->toggle_mode) d->toggled = !d->toggled;
        double now = _gui_now();
        d->key_press_until = now + KEY_PRESS_LOOK_S;
        ctx->anim_until = std::max(ctx->anim_until, now + KEY_PRESS_REDRAW_S);
        if (d->on_click) d->on_click(w->id, d->user_data);
        return 1;
    }
    switch (k->keycode) {
    case ALLEGRO_KEY_LEFT:
        _arrow_to_button(ctx, w, -1, 0);
        return 1;
    case ALLEGRO_KEY_RIGHT:
        _arrow_to_button(ctx, w, 1, 0);
        return 1;
    case ALLEGRO_KEY_UP:
        _arrow_to_button(ctx, w, 0, -1);
        return 1;
    case ALLEGRO_KEY_DOWN:
        _arrow_to_button(ctx, w, 0, 1);
        return 1;
    default:
        return 0;
    }
}

static int _slider_key(KA_GUI_CTX *ctx, KA_GUI_WIDGET *w, int keycode) {
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)w->data;
    int less = d->orientation ? ALLEGRO_KEY_DOWN : ALLEGRO_KEY_LEFT;
    int more = d->orientation ? ALLEGRO_KEY_UP : ALLEGRO_KEY_RIGHT;
    double step = _gui_slider_key_step(d), target;
    if (keycode == less)
        target = d->value - step;
    else if (keycode == more)
        target = d->value + step;
    else if (keycode == ALLEGRO_KEY_HOME)
        target = d->min_val;
    else if (keycode == ALLEGRO_KEY_END)
        target = d->max_val;
    else
        return 0;
    _gui_slider_set_value(ctx, w, target);
    return 1;
}

static int _checkbox_key(KA_GUI_CTX *ctx, KA_GUI_WIDGET *w, const ALLEGRO_KEYBOARD_EVENT *k) {
    if (!_is_enter(k->keycode) && k->keycode != ALLEGRO_KEY_SPACE) return 0;
    // Holding the key would otherwise flicker the box at the repeat rate.
    if (k->repeat) return 1;
    KA_GUI_CHECKBOX_DATA *d = (KA_GUI_CHECKBOX_DATA *)w->data;
    d->checked = !d->checked;
    ctx->dirty = 1;
    if (d->on_toggle) d->on_toggle(w->id, d->checked, d->user_data);
    return 1;
}

static int _combo_key(KA_GUI_CTX *ctx, KA_GUI_WIDGET *w, int keycode) {
    KA_GUI_COMBOBOX_DATA *d = _combo(w);
    int n = (int)d->nb_items, sel = d->selected_index, to;
    if (n == 0) return 0;
    switch (keycode) {
    case ALLEGRO_KEY_UP:
        to = sel < 0 ? 0 : std::max(0, sel - 1);
        break;
    case ALLEGRO_KEY_DOWN:
        to = sel < 0 ? 0 : std::min(n - 1, sel + 1);
        break;
    case ALLEGRO_KEY_HOME:
        to = 0;
        break;
    case ALLEGRO_KEY_END:
        to = n - 1;
        break;
    default:
        return 0;
    }
    if (to != sel) {
        d->selected_index = to;
        ctx->dirty = 1;
        if (d->on_select) d->on_select(w->id, to, d->user_data);
    }
    return 1;
}

// Keys for an open combobox list; 1 when the list used the key.
static int _list_key(KA_GUI_CTX *ctx, int keycode) {
    KA_GUI_WINDOW *win;
    KA_GUI_LIST_GEOM g;
    KA_GUI_WIDGET *w = _open_list(ctx, &win, &g);
    if (!w) return 0;
    KA_GUI_COMBOBOX_DATA *d = _combo(w);
    int n = (int)d->nb_items, h = d->highlight_index;
    switch (keycode) {
    case ALLEGRO_KEY_ENTER:
    case ALLEGRO_KEY_PAD_ENTER:
        if (h >= 0 && h < n)
            _combo_choose(ctx, w->id, h);
        else
            _close_list(ctx);
        return 1;
    case ALLEGRO_KEY_ESCAPE:
        _close_list(ctx);
        return 1;
    case ALLEGRO_KEY_HOME:
        _move_highlight(d, 0, g);
        return 1;
    case ALLEGRO_KEY_END:
        _move_highlight(d, n - 1, g);
        return 1;
    case ALLEGRO_KEY_UP:
        _move_highlight(d, h < 0 ? std::max(0, d->selected_index) : h - 1, g);
        return 1;
    case ALLEGRO_KEY_DOWN:
        _move_highlight(d, h < 0 ? std::max(0, d->selected_index) : h + 1, g);
        return 1;
    default:
        return 0;
    }
}

static int _key_char(KA_GUI_CTX *ctx, const ALLEGRO_KEYBOARD_EVENT *k) {
    _refresh_held(ctx, k->modifiers);
    ctx->dirty = 1;
    if (ctx->open_combobox_id >= 0 && _list_key(ctx, k->keycode)) return 1;
    KA_GUI_WIDGET *w = _gui_widget(ctx, ctx->focused_widget_id, 0);
    int in_text = w && w->type == KA_GUI_TEXTAREA;
    if (k->keycode == ALLEGRO_KEY_TAB && !(in_text && (k->modifiers & ALLEGRO_KEYMOD_CTRL)))
        return _tab(ctx, (k->modifiers & ALLEGRO_KEYMOD_SHIFT) != 0);
    if (!w) return 0;
    switch (w->type) {
    case KA_GUI_TEXTAREA:
        return _gui_textarea_key(ctx, w->id, k);
    case KA_GUI_BUTTON:
        return _button_key(ctx, w, k);
    case KA_GUI_SLIDER:
        return _slider_key(ctx, w, k->keycode);
    case KA_GUI_CHECKBOX:
        return _checkbox_key(ctx, w, k);
    case KA_GUI_COMBOBOX:
        return _combo_key(ctx, w, k->keycode);
    default:
        return 0;
    }
}

static int _key_down(KA_GUI_CTX *ctx, const ALLEGRO_KEYBOARD_EVENT *k) {
    ctx->held_modifier_keys |= _held_bit(k->keycode);
    int ctrl = ctx->held_modifier_keys & (HELD_LCTRL | HELD_RCTRL);
    if (!ctrl || k->keycode != ALLEGRO_KEY_C) return 0;
    // Labels have no focus, so their copy key is taken here rather than from key chars.
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        if (!_window_open(win)) continue;
        for (size_t j = 0; j < win->nb_widgets; j++) {
            if (win->widgets[j]->type != KA_GUI_LABEL) continue;
            std::string text = _label_selection(win->widgets[j]);
            if (text.empty()) continue;
            _gui_clipboard_set(ctx, KA_CLIPBOARD_CLIPBOARD, text.c_str());
            return 1;
        }
    }
    return 0;
}

static void _switch_out(KA_GUI_CTX *ctx) {
    ctx->held_modifier_keys = 0;
    ctx->mouse_b1 = ctx->mouse_b1_prev = 0;
    for (size_t i = 0; i < ctx->nb_windows; i++)
        ctx->windows[i]->state &= ~(KA_GUI_WIN_DRAGGING | KA_GUI_WIN_RESIZING);
}

// ---- entry

// Another display's events (or a stale one's, after a rebuild) are not ours. The pointer is only
// compared, never followed, so a display that no longer exists is harmless here.
static int _foreign(const KA_GUI_CTX *ctx, const ALLEGRO_DISPLAY *source) {
    return ctx->display && source && source != ctx->display;
}

// The display an input event came from, or null for events that name none.
static const ALLEGRO_DISPLAY *_source_display(const ALLEGRO_EVENT *ev) {
    switch (ev->type) {
    case ALLEGRO_EVENT_MOUSE_AXES:
    case ALLEGRO_EVENT_MOUSE_WARPED:
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        return ev->mouse.display;
    case ALLEGRO_EVENT_KEY_DOWN:
    case ALLEGRO_EVENT_KEY_UP:
    case ALLEGRO_EVENT_KEY_CHAR:
        return ev->keyboard.display;
    case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
        return ev->display.source;
    default:
        return nullptr;
    }
}

static int _mouse_button(KA_GUI_CTX *ctx, const ALLEGRO_MOUSE_EVENT *m, int down) {
    ctx->mouse_x = m->x;
    ctx->mouse_y = m->y;
    float px, py;
    _gui_ev_pointer(ctx, &px, &py);
    if (m->button == 1) {
        ctx->mouse_b1_prev = ctx->mouse_b1;
        ctx->mouse_b1 = down;
        return down ? _primary_down(ctx, px, py) : _primary_up(ctx, px, py);
    }
    if (!down) return 0;
    if (m->button == 2) return _secondary_down(ctx, px, py);
    if (m->button == 3) return _middle_down(ctx);
    return 0;
}

static int _dispatch(KA_GUI_CTX *ctx, const ALLEGRO_EVENT *ev) {
    if (_foreign(ctx, _source_display(ev))) return 0;
    switch (ev->type) {
    case ALLEGRO_EVENT_MOUSE_AXES:
    case ALLEGRO_EVENT_MOUSE_WARPED:
        return _mouse_axes(ctx, &ev->mouse);
    case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
        return _mouse_button(ctx, &ev->mouse, 1);
    case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
        return _mouse_button(ctx, &ev->mouse, 0);
    case ALLEGRO_EVENT_KEY_DOWN:
        return _key_down(ctx, &ev->keyboard);
    case ALLEGRO_EVENT_KEY_UP:
        ctx->held_modifier_keys &= ~_held_bit(ev->keyboard.keycode);
        return 0;
    case ALLEGRO_EVENT_KEY_CHAR:
        return _key_char(ctx, &ev->keyboard);
    case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
        _switch_out(ctx);
        return 1;
    default:
        return 0;
    }
}

int ka_gui_process_event(KA_GUI_CTX *ctx, ALLEGRO_EVENT event) {
    __ka_assert(ctx, return 0);
    __ka_assert(!ctx->destroy_pending, return 0);
    ctx->event_depth++;
    int used = _dispatch(ctx, &event);
    ctx->event_depth--;
    // A callback destroyed the context: the record waited for the outermost call to finish.
    if (ctx->event_depth == 0 && ctx->destroy_pending) {
        ctx->destroy_pending = 0;
        ka_gui_destroy_ctx(&ctx);
    }
    return used;
}
