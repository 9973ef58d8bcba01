// A one-window program for the end-to-end test of the GUI toolkit's event processing: a text
// area, a push button, a toggle button, a slider, a checkbox and a combobox, driven by the real
// X server. Each change (of a value or of the focus) prints the whole state as one line on
// standard output; the last line, "final ...", comes when the window closes or Escape reaches
// no widget.
// Usage: gui_demo_app [FONT.ttf]
#include <cstdio>
#include <string>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "support/ka_gui.hpp"
#include "support/ka_log.hpp"

namespace {

struct Demo {
    KA_GUI_CTX *gui = nullptr;
    int text = -1, button = -1, toggle = -1, slider = -1, check = -1, combo = -1;
    int clicks = 0;
    double slider_value = 0;
    int checked = 0;
} g_demo;

// The text with newlines, quotes and backslashes escaped, so one state stays on one line.
std::string escaped(const char *text) {
    std::string out;
    for (const char *p = text; *p; p++) {
        if (*p == '\n')
            out += "\\n";
        else if (*p == '"' || *p == '\\')
            out += std::string("\\") + *p;
        else
            out += *p;
    }
    return out;
}

void print_state(const char *prefix) {
    Demo &d = g_demo;
    KA_GUI_WIDGET *t = ka_gui_get_widget(d.gui, d.toggle);
    int toggled = t ? ((KA_GUI_BUTTON_DATA *)t->data)->toggled : -1;
    printf("%s text=\"%s\" clicks=%d toggle=%d slider=%.0f check=%d combo=%d focus=%s\n", prefix,
           escaped(ka_gui_textarea_get_text(d.gui, d.text)).c_str(), d.clicks, toggled,
           d.slider_value, d.checked, ka_gui_combobox_get_selected(d.gui, d.combo),
           ka_gui_get_focus(d.gui) == d.text ? "text" : "other");
    fflush(stdout);
}

void on_click(int, void *) {
    g_demo.clicks++;
    print_state("state");
}
void on_toggle_button(int, void *) {
    print_state("state");
}
void on_slider(int, double value, void *) {
    g_demo.slider_value = value;
    print_state("state");
}
void on_check(int, int checked, void *) {
    g_demo.checked = checked;
    print_state("state");
}
void on_select(int, int, void *) {
    print_state("state");
}
void on_text(int, const char *, void *) {
    print_state("state");
}

} // namespace

int main(int argc, char **argv) {
    set_log_level(LOG_INFO);
    if (!al_init() || !al_install_keyboard() || !al_install_mouse()) return 1;
    al_init_font_addon();
    al_init_ttf_addon();
    al_init_primitives_addon();
    al_set_new_display_flags(ALLEGRO_WINDOWED);
    ALLEGRO_DISPLAY *display = al_create_display(480, 400);
    if (!display) return 1;
    al_set_window_title(display, "Lumikey GUI demo");
    ALLEGRO_FONT *font =
        al_load_ttf_font(argc > 1 ? argv[1] : "assets/fonts/DejaVuSans.ttf", 18, 0);
    if (!font) {
        fprintf(stderr, "no TrueType font, using the built-in one\n");
        font = al_create_builtin_font();
    }

    Demo &d = g_demo;
    d.gui = ka_gui_new_ctx(font);
    ka_gui_set_display(d.gui, display);
    ka_gui_set_display_size(d.gui, 480, 400);
    int win = ka_gui_add_window(d.gui, "", 0, 0, 480, 400);
    ka_gui_window_set_flags(d.gui, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    d.text = ka_gui_add_textarea(d.gui, win, 20, 20, 440, 110, 1, 255, on_text, nullptr);
    ka_gui_textarea_set_placeholder(d.gui, d.text, "Type here");
    d.button = ka_gui_add_button(d.gui, win, "Count", 20, 150, 140, 40, 1, on_click, nullptr);
    d.toggle = ka_gui_add_toggle_button(d.gui, win, "Toggle", 180, 150, 140, 40, 1, 0,
                                        on_toggle_button, nullptr);
    d.slider = ka_gui_add_slider(d.gui, win, 20, 210, 440, 30, 0, 100, 0, 0, on_slider, nullptr);
    ka_gui_slider_set_step(d.gui, d.slider, 5);
    ka_gui_slider_set_value_visible(d.gui, d.slider, 0);
    d.check = ka_gui_add_checkbox(d.gui, win, "Check", 20, 260, 200, 30, 0, on_check, nullptr);
    d.combo = ka_gui_add_combobox(d.gui, win, 20, 310, 200, 30, on_select, nullptr);
    for (const char *item : {"Alpha", "Beta", "Gamma", "Delta"})
        ka_gui_combobox_add_item(d.gui, d.combo, item);

    ALLEGRO_EVENT_QUEUE *queue = al_create_event_queue();
    ALLEGRO_TIMER *timer = al_create_timer(1.0 / 30);
    al_register_event_source(queue, al_get_display_event_source(display));
    al_register_event_source(queue, al_get_keyboard_event_source());
    al_register_event_source(queue, al_get_mouse_event_source());
    al_register_event_source(queue, al_get_timer_event_source(timer));
    al_start_timer(timer);

    // "ready" follows the first frame: the first draw builds the glyph cache and the driver's
    // shaders, which takes seconds under the sanitizers, and input is only taken after it.
    bool running = true, redraw = true, drawn = false;
    while (running) {
        ALLEGRO_EVENT ev;
        al_wait_for_event(queue, &ev);
        int focus = ka_gui_get_focus(d.gui);
        int used = ka_gui_process_event(d.gui, ev);
        if (ka_gui_get_focus(d.gui) != focus) print_state("state");
        if (ev.type == ALLEGRO_EVENT_DISPLAY_CLOSE) running = false;
        if (ev.type == ALLEGRO_EVENT_KEY_CHAR && ev.keyboard.keycode == ALLEGRO_KEY_ESCAPE && !used)
            running = false;
        if (ev.type == ALLEGRO_EVENT_TIMER) redraw = redraw || ka_gui_needs_redraw(d.gui);
        if (running && redraw && al_is_event_queue_empty(queue)) {
            al_clear_to_color(al_map_rgb(16, 18, 24));
            ka_gui_draw(d.gui);
            al_flip_display();
            redraw = false;
            if (!drawn) print_state("ready");
            drawn = true;
        }
    }
    print_state("final");
    ka_gui_destroy_ctx(&d.gui);
    al_destroy_timer(timer);
    al_destroy_event_queue(queue);
    al_destroy_font(font);
    al_destroy_display(display);
    return 0;
}
