// support/ka_gui_combobox.cpp: comboboxes: items, selection, the closed field and the open list
// drawn over every window.
#include <algorithm>

#include "support/ka_common.hpp"
#include "support/ka_gui_internal.hpp"

int ka_gui_add_combobox(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                        KA_GUI_SELECT_CB on_select, void *user_data) {
    __ka_assert(ctx, return -1);
    KA_GUI_COMBOBOX_DATA *d =
        _gui_new_data<KA_GUI_COMBOBOX_DATA>(ctx, window_id, "KA_GUI_COMBOBOX_DATA");
    if (!d) return -1;
    d->selected_index = -1;
    d->highlight_index = -1;
    d->item_height = h;
    d->max_visible = std::max(1, ctx->style.combobox_max_visible);
    d->on_select = on_select;
    d->user_data = user_data;
    return _gui_attach_widget(ctx, window_id, KA_GUI_COMBOBOX, x, y, w, h, d);
}

int ka_gui_combobox_add_item(KA_GUI_CTX *ctx, int id, const char *text) {
    __ka_assert(ctx, return -1);
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_COMBOBOX);
    if (!w) return -1;
    KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
    if (!_gui_grow((void **)&d->items, &d->items_capacity, d->nb_items + 1, sizeof(KA_GUI_LISTITEM),
                   "d->items")) {
        return -1;
    }
    KA_GUI_LISTITEM *item = &d->items[d->nb_items];
    ka_copy_text(item->text, sizeof item->text, text);
    item->selected = 0;
    return (int)d->nb_items++;
}

int ka_gui_combobox_get_selected(KA_GUI_CTX *ctx, int id) {
    __ka_assert(ctx, return -1);
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_COMBOBOX);
    return w ? ((KA_GUI_COMBOBOX_DATA *)w->data)->selected_index : -1;
}

void ka_gui_combobox_set_selected(KA_GUI_CTX *ctx, int id, int index) {
    __ka_assert(ctx, return );
    KA_GUI_WIDGET *w = _gui_widget(ctx, id, KA_GUI_COMBOBOX);
    if (!w) return;
    KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
    if (index < -1 || index >= (int)d->nb_items) return;
    d->selected_index = index;
}

void _gui_combobox_list_geom(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w,
                             KA_GUI_LIST_GEOM *g) {
    KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
    ALLEGRO_FONT *font = _gui_font(ctx, win, w);
    float line_h = font ? (float)al_get_font_line_height(font) : 0;
    float ax, ay;
    _gui_widget_origin(win, w, &ax, &ay);
    g->item_h = d->item_height > line_h ? d->item_height : line_h + ctx->style.item_height_pad;
    g->rows = std::min((int)d->nb_items, d->max_visible);
    g->scrollbar = (int)d->nb_items > d->max_visible;
    g->strip_w = g->scrollbar ? std::max(10.0f, ctx->style.scrollbar_size) : 0;
    g->max_scroll = std::max(0, (int)d->nb_items - std::max(1, g->rows));
    g->w = w->w;
    g->h = (float)g->rows * g->item_h;
    g->x = ax;
    float bottom = ctx->display_h > 0 ? ctx->display_h + ctx->global_scroll_y : ay + w->h + g->h;
    float top = ctx->global_scroll_y;
    float below = bottom - (ay + w->h), above = ay - top;
    if (g->h <= below) {
        g->y = ay + w->h;
    } else if (g->h <= above) {
        g->y = ay - g->h;
    } else {
        g->y = below >= above ? ay + w->h : ay - g->h;
    }
}

void _gui_draw_combobox(KA_GUI_CTX *ctx, KA_GUI_WINDOW *, KA_GUI_WIDGET *w, float ax, float ay,
                        ALLEGRO_FONT *font) {
    KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
    const KA_GUI_STYLE &s = ctx->style;
    ALLEGRO_COLOR bg, border, text;
    _gui_state_colors(w, &bg, &border, &text);
    _gui_themed_rect(&w->theme, ax, ay, w->w, w->h, bg, border, s.shape_mode == 1);
    if (font && d->selected_index >= 0 && d->selected_index < (int)d->nb_items) {
        const char *item = d->items[d->selected_index].text;
        float line_h = (float)al_get_font_line_height(font);
        _gui_draw_truncated(font, text, ax + s.item_text_padding, ay + (w->h - line_h) / 2, item,
                            strlen(item), w->w - s.item_text_padding - s.dropdown_arrow_reserve);
    }
    float x0 = ax + w->w - s.dropdown_arrow_reserve, cy = ay + w->h / 2;
    float hw = s.dropdown_arrow_half_w, hh = s.dropdown_arrow_half_h;
    al_draw_line(x0, cy - hh, x0 + hw, cy + hh, w->theme.text_normal, s.dropdown_arrow_thickness);
    al_draw_line(x0 + hw, cy + hh, x0 + 2 * hw, cy - hh, w->theme.text_normal,
                 s.dropdown_arrow_thickness);
}

void _gui_draw_combobox_list(KA_GUI_CTX *ctx, KA_GUI_WINDOW *win, KA_GUI_WIDGET *w,
                             ALLEGRO_FONT *font) {
    KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
    if (!d->is_open || d->nb_items == 0) return;
    const KA_GUI_STYLE &s = ctx->style;
    const KA_GUI_THEME &t = w->theme;
    KA_GUI_LIST_GEOM g;
    _gui_combobox_list_geom(ctx, win, w, &g);
    d->scroll_offset = std::clamp(d->scroll_offset, 0, g.max_scroll);
    if (s.shape_mode == 1) {
        al_draw_filled_rounded_rectangle(g.x, g.y, g.x + g.w, g.y + g.h, t.corner_rx, t.corner_ry,
                                         t.bg_normal);
    } else {
        al_draw_filled_rectangle(g.x, g.y, g.x + g.w, g.y + g.h, t.bg_normal);
    }
    float sb_w = g.strip_w;
    float inset = s.item_selection_inset;
    float line_h = font ? (float)al_get_font_line_height(font) : 0;
    int saved[4];
    _gui_clip_push(g.x, g.y, g.w, g.h, saved);
    for (int row = 0; row < g.rows; row++) {
        int index = d->scroll_offset + row;
        float y = g.y + (float)row * g.item_h;
        if (index == d->selected_index) {
            al_draw_filled_rectangle(g.x + inset, y + inset, g.x + g.w - sb_w - inset,
                                     y + g.item_h - inset, t.bg_active);
        } else if (index == d->highlight_index) {
            al_draw_filled_rectangle(g.x + inset, y + inset, g.x + g.w - sb_w - inset,
                                     y + g.item_h - inset, t.bg_hover);
        }
        if (!font) continue;
        const char *text = d->items[index].text;
        _gui_draw_truncated(font, index == d->selected_index ? t.text_active : t.text_normal,
                            g.x + s.item_text_padding, y + (g.item_h - line_h) / 2, text,
                            strlen(text), g.w - sb_w - 2 * s.item_text_padding);
    }
    _gui_clip_pop(saved);
    if (g.scrollbar) {
        _gui_draw_vscrollbar(ctx, &w->sb_v, g.x + g.w - sb_w, g.y, sb_w, g.h,
                             (float)d->nb_items * g.item_h, g.h,
                             (float)d->scroll_offset * g.item_h);
    }
    al_draw_rectangle(g.x + 0.5f, g.y + 0.5f, g.x + g.w - 0.5f, g.y + g.h - 0.5f, t.border_active,
                      s.dropdown_border_thickness);
}
