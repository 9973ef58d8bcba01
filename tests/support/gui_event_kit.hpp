// tests/support/gui_event_kit.hpp: synthetic Allegro events for the GUI toolkit and a recorder
// of the callbacks they cause, for tests of the toolkit's event processing.
#pragma once
#include <string>
#include <vector>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "support/ka_gui.hpp"

ALLEGRO_EVENT gui_ev_move(int x, int y, int dz = 0);
ALLEGRO_EVENT gui_ev_button(bool down, int x, int y, int button = 1);
ALLEGRO_EVENT gui_ev_char(int keycode, int unichar = 0, unsigned modifiers = 0,
                          bool repeat = false);
ALLEGRO_EVENT gui_ev_key(bool down, int keycode);

// One callback as it arrived: which kind ("click", "slider", "toggle", "select", "text",
// "mouse"), the widget id, and what it carried.
struct GuiCall {
    std::string kind;
    int id;
    double value;             // slider value, checked state, index, or mouse event type
    std::string text;         // text area contents
    KA_GUI_MOUSE_EVENT mouse; // for "mouse"
};

// Collects callbacks; pass it as the user data of the recorder callbacks below.
struct GuiRecorder {
    std::vector<GuiCall> calls;
    int custom_answer = 1; // what the custom mouse callback returns
    int count(const std::string &kind) const;
    const GuiCall *last(const std::string &kind) const;
};

void gui_rec_click(int id, void *rec);
void gui_rec_slider(int id, double value, void *rec);
void gui_rec_toggle(int id, int checked, void *rec);
void gui_rec_select(int id, int index, void *rec);
void gui_rec_text(int id, const char *text, void *rec);
int gui_rec_mouse(int id, const KA_GUI_MOUSE_EVENT *event, void *rec);

// Allegro with the font add-on, the built-in 8 x 8 font and a fresh context; the context is
// destroyed with the kit. Every character of the built-in font is 8 pixels wide.
class GuiKit {
public:
    GuiKit();
    ~GuiKit();
    GuiKit(const GuiKit &) = delete;
    GuiKit &operator=(const GuiKit &) = delete;

    KA_GUI_CTX *ctx = nullptr;
    ALLEGRO_FONT *font = nullptr;
    GuiRecorder rec;

    // A frameless, fixed window as the application makes them.
    int window(float x, float y, float w, float h);
    int feed(const ALLEGRO_EVENT &ev);
    void move(int x, int y) { feed(gui_ev_move(x, y)); }
    void press(int x, int y, int button = 1) { feed(gui_ev_button(true, x, y, button)); }
    void release(int x, int y, int button = 1) { feed(gui_ev_button(false, x, y, button)); }
    void click(int x, int y) {
        move(x, y);
        press(x, y);
        release(x, y);
    }
    void key(int keycode, unsigned modifiers = 0, bool repeat = false) {
        feed(gui_ev_char(keycode, 0, modifiers, repeat));
    }
    // Types UTF-8 text as key chars, one per character.
    void type(const char *utf8);
    KA_GUI_WIDGET *widget(int id) { return ka_gui_get_widget(ctx, id); }
    template <class T> T *data(int id) { return (T *)ka_gui_get_widget(ctx, id)->data; }
};
