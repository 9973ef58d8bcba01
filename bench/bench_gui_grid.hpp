// bench/bench_gui_grid.hpp: the 60-widget window both GUI benchmarks measure, so that the
// build, draw and event figures describe the same screen.
#pragma once
#include <initializer_list>
#include <allegro5/allegro_primitives.h>

#include "support/ka_gui.hpp"

// Ids of the widgets the event benchmark aims at; -1 until the grid is built.
struct BENCH_GUI_GRID_IDS {
    int first_slider = -1;
    int first_text = -1;
};

inline void bench_gui_swatch(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *, void *) {
    al_draw_filled_rounded_rectangle(x, y, x + w->w, y + w->h, 6, 6, al_map_rgb(40, 120, 200));
}

// 60 widgets, the program's seven types in turn, on a 4 x 15 grid filling 480 x 800. Custom
// widgets draw a swatch and, when mouse is given, report their mouse events to it.
inline KA_GUI_CTX *bench_gui_grid(ALLEGRO_FONT *font, ALLEGRO_DISPLAY *display,
                                  BENCH_GUI_GRID_IDS *ids,
                                  int (*mouse)(int, const KA_GUI_MOUSE_EVENT *, void *) = nullptr,
                                  void *mouse_user = nullptr) {
    KA_GUI_CTX *ctx = ka_gui_new_ctx(font);
    if (!ctx) return nullptr;
    if (display) ka_gui_set_display(ctx, display);
    ka_gui_set_display_size(ctx, 480, 800);
    int win = ka_gui_add_window(ctx, "Bench", 0, 0, 480, 800);
    ka_gui_window_set_flags(ctx, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    for (int i = 0; i < 60; i++) {
        float x = 8 + (float)(i % 4) * 118, y = 8 + (float)(i / 4) * 52, w = 110, h = 44;
        int id = -1;
        switch (i % 7) {
        case 0:
            ka_gui_add_button(ctx, win, "Send", x, y, w, h, 1, nullptr, nullptr);
            break;
        case 1:
            ka_gui_add_label(ctx, win, "Caption text", x, y, w, h, 0);
            break;
        case 2:
            id = ka_gui_add_slider(ctx, win, x, y, w, h, 0, 100, 40, 0, nullptr, nullptr);
            if (ids && ids->first_slider < 0) ids->first_slider = id;
            break;
        case 3:
            ka_gui_add_checkbox(ctx, win, "Sound", x, y, w, h, 1, nullptr, nullptr);
            break;
        case 4:
            id = ka_gui_add_combobox(ctx, win, x, y, w, h, nullptr, nullptr);
            for (const char *item : {"English", "French", "Spanish", "German", "Italian"})
                ka_gui_combobox_add_item(ctx, id, item);
            ka_gui_combobox_set_selected(ctx, id, 1);
            break;
        case 5:
            id = ka_gui_add_textarea(ctx, win, x, y, w, h, i % 2, 511, nullptr, nullptr);
            ka_gui_textarea_set_text(ctx, id, "CQ CQ DE LUMIKEY");
            if (ids && ids->first_text < 0) ids->first_text = id;
            break;
        default:
            id = ka_gui_add_custom(ctx, win, x, y, w, h, bench_gui_swatch, nullptr);
            if (mouse) ka_gui_custom_set_mouse(ctx, id, mouse, mouse_user);
            break;
        }
    }
    return ctx;
}
