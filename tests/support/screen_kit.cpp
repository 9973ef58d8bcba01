// tests/support/screen_kit.cpp
#include "support/screen_kit.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "morse/morse_table.hpp"
#include "support/gui_event_kit.hpp"

ALLEGRO_DISPLAY *ScreenKit::display = nullptr;
ALLEGRO_FONT *ScreenKit::font = nullptr;
ALLEGRO_FONT *ScreenKit::font_big = nullptr;

ScreenKit::ScreenKit(int w, int h) {
    EXPECT_TRUE(save.ok());
    if (!display) {
        EXPECT_TRUE(al_init());
        al_install_keyboard();
        al_init_font_addon();
        al_init_ttf_addon();
        al_init_primitives_addon();
        // The X server may still be resetting after the previous test program: retry a while.
        for (int i = 0; i < 50 && !display; i++) {
            display = al_create_display(480, 800);
            if (!display) al_rest(0.1);
        }
        // The program's own font at its own sizes, so texts measure as they will be seen.
        font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
        font_big = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 34, 0);
    }
    EXPECT_NE(display, nullptr);
    EXPECT_NE(font, nullptr) << "run from the build folder, where assets/ is";
    holder.reset(new LUMIKEY_APP());
    app = holder.get();
    settings_default(&app->settings);
    app->display = display;
    app->font = font;
    app->font_big = font_big;
    app->ui_scale = 1;
    app->disp_w = w;
    app->disp_h = h;
    app->back_time = -1;
    app->palette_win = app->color_target = app->palette_hex = app->options_status = -1;
    app->msg_field = app->actions_win = app->actions_title = -1;
    app->sound_save.win = app->sound_save.status = -1;
    app->confirm_win = app->confirm_label = app->target_id = -1;
    app->edit_text = app->edit_name = app->edit_cat = app->edit_preview = -1;
    app->light.index = SIZE_MAX;
    app->presets = presets_new();
    app->received = received_new();
    app->practice_log = practice_new();
    al_init_user_event_source(&app->wake_source);
    app->wake_source_ready = 1;
}

ScreenKit::~ScreenKit() {
    for (int screen = SCREEN_HOME; screen <= SCREEN_PROGRESS; screen++) {
        const APP_SCREEN_HOOKS *hooks = app_screen_hooks((APP_SCREEN)screen);
        if (hooks->release) hooks->release(app);
    }
    if (app->gui) ka_gui_destroy_ctx(&app->gui);
    presets_free(&app->presets);
    received_free(&app->received);
    al_destroy_user_event_source(&app->wake_source);
}

void ScreenKit::show(APP_SCREEN screen) {
    app_set_screen(app, screen);
    app_build_gui(app);
}

void ScreenKit::resize(int w, int h) {
    app->disp_w = w;
    app->disp_h = h;
    app->needs_rebuild = 1;
    pass();
}

void ScreenKit::pass() {
    app_apply_requests(app);
    if (app->needs_rebuild) app_build_gui(app);
}

void ScreenKit::feed(const ALLEGRO_EVENT &ev) {
    ALLEGRO_EVENT e = ev;
    e.any.timestamp = clock_ += 0.05;
    app->event_time = e.any.timestamp;
    ka_gui_process_event(app->gui, e);
    app->event_time = 0;
}

static const char *_text_of(KA_GUI_WIDGET *w, size_t item) {
    switch (w->type) {
    case KA_GUI_BUTTON:
        return item ? nullptr : ((KA_GUI_BUTTON_DATA *)w->data)->label;
    case KA_GUI_CHECKBOX:
        return item ? nullptr : ((KA_GUI_CHECKBOX_DATA *)w->data)->label;
    case KA_GUI_LABEL:
        return item ? nullptr : ((KA_GUI_LABEL_DATA *)w->data)->text;
    case KA_GUI_COMBOBOX: {
        KA_GUI_COMBOBOX_DATA *d = (KA_GUI_COMBOBOX_DATA *)w->data;
        return item < d->nb_items ? d->items[item].text : nullptr;
    }
    default:
        return nullptr;
    }
}

std::vector<KA_GUI_WIDGET *> ScreenKit::all(int type, const char *text) {
    std::vector<KA_GUI_WIDGET *> out;
    KA_GUI_CTX *g = app->gui;
    if (!g) return out;
    for (size_t i = 0; i < g->nb_windows; i++) {
        KA_GUI_WINDOW *win = g->windows[i];
        for (size_t k = 0; k < win->nb_widgets; k++) {
            KA_GUI_WIDGET *w = win->widgets[k];
            if (!w->visible || w->type != type) continue;
            bool match = !text;
            for (size_t item = 0; !match; item++) {
                const char *t = _text_of(w, item);
                if (!t) break;
                match = strcmp(t, text) == 0;
            }
            if (match) out.push_back(w);
        }
    }
    return out;
}

KA_GUI_WIDGET *ScreenKit::find(int type, const char *text) {
    std::vector<KA_GUI_WIDGET *> found = all(type, text);
    EXPECT_EQ(found.size(), 1u) << "widgets of type " << type << " showing '" << text << "'";
    return found.empty() ? nullptr : found[0];
}

void ScreenKit::centre(const KA_GUI_WIDGET *w, int *x, int *y) {
    KA_GUI_WINDOW *win = ka_gui_get_window(app->gui, w->window_id);
    float wx = win ? win->x : 0, wy = win ? win->y : 0;
    *x = (int)(wx + w->x + w->w / 2);
    *y = (int)(wy + w->y + w->h / 2);
}

void ScreenKit::click(const KA_GUI_WIDGET *w, float dx, float dy) {
    ASSERT_NE(w, nullptr);
    int x, y;
    centre(w, &x, &y);
    if (dx >= 0) x = (int)(x - w->w / 2 + dx);
    if (dy >= 0) y = (int)(y - w->h / 2 + dy);
    feed(gui_ev_move(x, y));
    feed(gui_ev_button(true, x, y));
    feed(gui_ev_button(false, x, y));
    pass();
}

void ScreenKit::type(const char *utf8) {
    const char *p = utf8;
    while (*p) {
        uint32_t cp = morse_utf8_next(&p);
        feed(gui_ev_char(0, (int)cp));
    }
    pass();
}

void ScreenKit::back() {
    app_back(app, clock_ += 1);
    pass();
}
