// support/ka_gui_ctx.cpp: the context (creation, destruction, display, focus, redraw need),
// the widget index by id, the life of a widget record, and the clipboard with its fallback.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/ka_clipboard.hpp"
#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"
#include "support/ka_hash.hpp"

#define KA_GUI_INDEX_BUCKETS 256

// The clipboard service belongs to the process, not to one context: the program rebuilds its
// context on every screen change, and a text copied on one screen must still paste on the next.
// It goes down with the last context.
static struct { std::atomic<int> live_contexts{0}; } _gui_process;

double _gui_now() {
    return al_get_time();
}

int _gui_grow(void **array, size_t *capacity, size_t needed, size_t elem_size, const char *what) {
    if (needed <= *capacity) return 1;
    size_t cap = *capacity ? *capacity : 8;
    while (cap < needed) cap *= 2;
    void *grown = _ka_realloc(*array, cap, elem_size, what, "element", __LINE__, __FILE__);
    if (!grown) return 0;
    *array = grown;
    *capacity = cap;
    return 1;
}

KA_GUI_CTX *ka_gui_new_ctx(ALLEGRO_FONT *default_font) {
    __ka_assert(default_font, return nullptr);
    KA_GUI_CTX *ctx = nullptr;
    Malloc(ctx, KA_GUI_CTX, 1);
    if (!ctx) return nullptr;
    ctx->windows_capacity = 8;
    Malloc(ctx->windows, KA_GUI_WINDOW *, ctx->windows_capacity);
    if (!ctx->windows) {
        ka_log(LOG_ERR, "ka_gui_new_ctx: failed to allocate window list");
        Free(ctx);
        return nullptr;
    }
    ctx->widgets_by_id = new_ht(KA_GUI_INDEX_BUCKETS);
    if (!ctx->widgets_by_id) {
        ka_log(LOG_ERR, "ka_gui_new_ctx: failed to allocate widget hash table");
        Free(ctx->windows);
        Free(ctx);
        return nullptr;
    }
    ctx->next_widget_id = 1;
    ctx->next_window_id = 1;
    ctx->default_font = default_font;
    ctx->default_theme = ka_gui_default_theme();
    ctx->focused_widget_id = -1;
    ctx->click_widget_id = -1;
    ctx->click_x = ctx->click_y = -10000;
    ctx->double_click_time = 0.4;
    ctx->double_click_radius = 4;
    ctx->open_combobox_id = -1;
    ctx->gui_scale = 1;
    ctx->style = ka_gui_default_style();
    ctx->dirty = 1;
    _gui_process.live_contexts++;
    return ctx;
}

void ka_gui_destroy_ctx(KA_GUI_CTX **ctx_ptr) {
    __ka_assert(ctx_ptr && *ctx_ptr, return );
    KA_GUI_CTX *ctx = *ctx_ptr;
    *ctx_ptr = nullptr;
    // Called from a callback inside ka_gui_process_event: the event code still holds the
    // record, so it is freed when the outermost call returns (ka_gui_event.cpp).
    if (ctx->event_depth > 0) {
        ctx->destroy_pending = 1;
        return;
    }
    for (size_t i = 0; i < ctx->nb_windows; i++) {
        KA_GUI_WINDOW *win = ctx->windows[i];
        for (size_t j = 0; j < win->nb_widgets; j++) _gui_free_widget(win->widgets[j]);
        if (win->widgets) Free(win->widgets);
        Free(win);
    }
    Free(ctx->windows);
    destroy_ht(&ctx->widgets_by_id); // holds borrowed pointers only
    if (--_gui_process.live_contexts <= 0) {
        _gui_process.live_contexts = 0;
        ka_clipboard_destroy();
    }
    Free(ctx);
    *ctx_ptr = nullptr;
}

void ka_gui_set_display(KA_GUI_CTX *ctx, ALLEGRO_DISPLAY *display) {
    __ka_assert(ctx, return );
    ctx->display = display;
}

void ka_gui_set_display_size(KA_GUI_CTX *ctx, float w, float h) {
    __ka_assert(ctx, return );
    ctx->display_w = w;
    ctx->display_h = h;
    ctx->display_size_set = 1;
    ctx->dirty = 1;
}

int ka_gui_needs_redraw(KA_GUI_CTX *ctx) {
    if (!ctx) return 1;
    if (ctx->dirty) return 1;
    if (ctx->anim_until > 0 && _gui_now() < ctx->anim_until) return 1;
    // The focused text area's cursor blinks, so it keeps frames coming.
    return _gui_widget(ctx, ctx->focused_widget_id, KA_GUI_TEXTAREA) ? 1 : 0;
}

KA_GUI_WIDGET *ka_gui_get_widget(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return nullptr);
    return _gui_widget(ctx, id, 0);
}

KA_GUI_WIDGET *_gui_widget(KA_GUI_CTX *ctx, int id, int type) {
    if (!ctx || id < 1) return nullptr;
    char key[16];
    snprintf(key, sizeof key, "%d", id);
    void *found = nullptr;
    if (!ht_get_ptr(ctx->widgets_by_id, key, &found) || !found) return nullptr;
    KA_GUI_WIDGET *widget = (KA_GUI_WIDGET *)found;
    if (type && widget->type != type) return nullptr;
    return widget;
}

int ka_gui_get_focus(KA_GUI_CTX *ctx) {
    __ka_assert(ctx, return -1);
    return ctx->focused_widget_id;
}

void ka_gui_set_focus(KA_GUI_CTX *ctx, int widget_id) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *old = _gui_widget(ctx, ctx->focused_widget_id, 0);
    if (old) old->state &= ~KA_GUI_STATE_FOCUSED;
    ctx->focused_widget_id = -1;
    ctx->dirty = 1;
    if (widget_id == -1) return;
    KA_GUI_WIDGET *widget = _gui_widget(ctx, widget_id, 0);
    if (!widget) {
        ka_log(LOG_ERR, "ka_gui_set_focus: widget %d not found", widget_id);
        return;
    }
    widget->state |= KA_GUI_STATE_FOCUSED;
    ctx->focused_widget_id = widget_id;
    if (widget->type == KA_GUI_TEXTAREA)
        ((KA_GUI_TEXTAREA_DATA *)widget->data)->cursor_time = _gui_now();
    KA_GUI_WINDOW *win = _gui_widget_window(ctx, widget);
    if (win && (win->state & KA_GUI_WIN_OPEN)) ka_gui_raise_window(ctx, win->id);
}

void _gui_free_widget_data(int type, void *data) {
    if (!data) return;
    if (type == KA_GUI_TEXTAREA) {
        KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)data;
        free(d->text);
        free(d->placeholder);
        free(d->suggest_separators);
        free(d->suggest_prefix);
        for (int i = 0; d->suggest_items && i < d->suggest_count; i++) free(d->suggest_items[i]);
        free(d->suggest_items);
    } else if (type == KA_GUI_COMBOBOX) {
        free(((KA_GUI_COMBOBOX_DATA *)data)->items);
    }
    free(data);
}

void _gui_free_widget(KA_GUI_WIDGET *widget) {
    if (!widget) return;
    if (widget->type == KA_GUI_CUSTOM && widget->data) {
        KA_GUI_CUSTOM_DATA *d = (KA_GUI_CUSTOM_DATA *)widget->data;
        KA_GUI_DESTROY_CB destroy = d->destroy;
        d->destroy = nullptr; // never twice, whatever the hook does
        if (destroy) destroy(d->user_data);
    }
    _gui_free_widget_data(widget->type, widget->data);
    widget->data = nullptr;
    free(widget->tooltip);
    free(widget);
}

int _gui_attach_widget(KA_GUI_CTX *ctx, int window_id, int type, float x, float y, float w, float h,
                       void *data) {
    KA_GUI_WINDOW *win = _gui_window(ctx, window_id);
    if (!win || !data) {
        _gui_free_widget_data(type, data);
        return -1;
    }
    if (!_gui_grow((void **)&win->widgets, &win->widgets_capacity, win->nb_widgets + 1,
                   sizeof(KA_GUI_WIDGET *), "win->widgets")) {
        _gui_free_widget_data(type, data);
        return -1;
    }
    KA_GUI_WIDGET *widget = nullptr;
    Malloc(widget, KA_GUI_WIDGET, 1);
    if (!widget) {
        _gui_free_widget_data(type, data);
        return -1;
    }
    widget->id = ctx->next_widget_id;
    widget->type = type;
    widget->x = x;
    widget->y = y;
    widget->w = w < 0 ? 0 : w;
    widget->h = h < 0 ? 0 : h;
    widget->visible = 1;
    widget->enabled = 1;
    widget->theme = ctx->default_theme;
    widget->data = data;
    widget->window_id = win->id;
    _gui_widget_update_norm(win, widget);

    char key[16];
    snprintf(key, sizeof key, "%d", widget->id);
    if (!ht_put_ptr(ctx->widgets_by_id, key, widget, nullptr, nullptr)) {
        ka_log(LOG_ERR, "ka_gui: could not index widget %d", widget->id);
        _gui_free_widget(widget);
        return -1;
    }
    win->widgets[win->nb_widgets++] = widget;
    ctx->next_widget_id++;
    ctx->dirty = 1;
    return widget->id;
}

void ka_gui_widget_set_rect(KA_GUI_CTX *ctx, int id, float x, float y, float w, float h) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *widget = _gui_widget(ctx, id, 0);
    if (!widget) return;
    widget->x = x;
    widget->y = y;
    widget->w = w < 0 ? 0 : w;
    widget->h = h < 0 ? 0 : h;
    _gui_widget_update_norm(_gui_widget_window(ctx, widget), widget);
    ctx->dirty = 1;
}

int _gui_clipboard_set(KA_GUI_CTX *ctx, int which, const char *text) {
    if (ka_clipboard_available()) return ka_clipboard_set(which, text) == 0 ? 1 : 0;
    if (which != KA_CLIPBOARD_CLIPBOARD || !ctx || !ctx->display) return 0;
    return al_set_clipboard_text(ctx->display, text ? text : "") ? 1 : 0;
}

char *_gui_clipboard_get(KA_GUI_CTX *ctx, int which, size_t max_bytes) {
    if (ka_clipboard_available()) return ka_clipboard_get_prefix(which, max_bytes);
    if (which != KA_CLIPBOARD_CLIPBOARD || !ctx || !ctx->display) return nullptr;
    char *al_text = al_get_clipboard_text(ctx->display);
    if (!al_text) return nullptr;
    char *copy = strndup(al_text, max_bytes);
    al_free(al_text);
    return copy;
}
