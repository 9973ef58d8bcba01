// tests/support/gui_event_kit.cpp: synthetic GUI events and the callback recorder.
#include "support/gui_event_kit.hpp"

#include <cstring>
#include <gtest/gtest.h>

static ALLEGRO_EVENT _blank(ALLEGRO_EVENT_TYPE type) {
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof ev);
    ev.type = type;
    return ev;
}

ALLEGRO_EVENT gui_ev_move(int x, int y, int dz) {
    ALLEGRO_EVENT ev = _blank(ALLEGRO_EVENT_MOUSE_AXES);
    ev.mouse.x = x;
    ev.mouse.y = y;
    ev.mouse.dz = dz;
    ev.mouse.z = dz;
    return ev;
}

ALLEGRO_EVENT gui_ev_button(bool down, int x, int y, int button) {
    ALLEGRO_EVENT ev =
        _blank(down ? ALLEGRO_EVENT_MOUSE_BUTTON_DOWN : ALLEGRO_EVENT_MOUSE_BUTTON_UP);
    ev.mouse.x = x;
    ev.mouse.y = y;
    ev.mouse.button = (unsigned)button;
    return ev;
}

ALLEGRO_EVENT gui_ev_char(int keycode, int unichar, unsigned modifiers, bool repeat) {
    ALLEGRO_EVENT ev = _blank(ALLEGRO_EVENT_KEY_CHAR);
    ev.keyboard.keycode = keycode;
    ev.keyboard.unichar = unichar;
    ev.keyboard.modifiers = modifiers;
    ev.keyboard.repeat = repeat;
    return ev;
}

ALLEGRO_EVENT gui_ev_key(bool down, int keycode) {
    ALLEGRO_EVENT ev = _blank(down ? ALLEGRO_EVENT_KEY_DOWN : ALLEGRO_EVENT_KEY_UP);
    ev.keyboard.keycode = keycode;
    return ev;
}

int GuiRecorder::count(const std::string &kind) const {
    int n = 0;
    for (const GuiCall &c : calls) n += c.kind == kind;
    return n;
}

const GuiCall *GuiRecorder::last(const std::string &kind) const {
    for (size_t i = calls.size(); i-- > 0;)
        if (calls[i].kind == kind) return &calls[i];
    return nullptr;
}

static void _push(void *rec, const char *kind, int id, double value, const char *text) {
    GuiCall call{kind, id, value, text ? text : "", {}};
    ((GuiRecorder *)rec)->calls.push_back(call);
}

void gui_rec_click(int id, void *rec) {
    _push(rec, "click", id, 0, nullptr);
}
void gui_rec_slider(int id, double value, void *rec) {
    _push(rec, "slider", id, value, nullptr);
}
void gui_rec_toggle(int id, int checked, void *rec) {
    _push(rec, "toggle", id, checked, nullptr);
}
void gui_rec_select(int id, int index, void *rec) {
    _push(rec, "select", id, index, nullptr);
}
void gui_rec_text(int id, const char *text, void *rec) {
    _push(rec, "text", id, 0, text);
}

int gui_rec_mouse(int id, const KA_GUI_MOUSE_EVENT *event, void *rec) {
    GuiCall call{"mouse", id, (double)event->type, "", *event};
    GuiRecorder *r = (GuiRecorder *)rec;
    r->calls.push_back(call);
    return r->custom_answer;
}

GuiKit::GuiKit() {
    if (!al_is_system_installed()) al_init();
    if (!al_is_font_addon_initialized()) al_init_font_addon();
    font = al_create_builtin_font();
    EXPECT_NE(font, nullptr);
    ctx = ka_gui_new_ctx(font);
    EXPECT_NE(ctx, nullptr);
}

GuiKit::~GuiKit() {
    if (ctx) ka_gui_destroy_ctx(&ctx);
    if (font) al_destroy_font(font);
}

int GuiKit::window(float x, float y, float w, float h) {
    int id = ka_gui_add_window(ctx, "", x, y, w, h);
    ka_gui_window_set_flags(ctx, id, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    return id;
}

int GuiKit::feed(const ALLEGRO_EVENT &ev) {
    return ka_gui_process_event(ctx, ev);
}

void GuiKit::type(const char *utf8) {
    ALLEGRO_USTR_INFO info;
    const ALLEGRO_USTR *u = al_ref_cstr(&info, utf8);
    int pos = 0;
    for (int32_t c = al_ustr_get_next(u, &pos); c >= 0; c = al_ustr_get_next(u, &pos))
        feed(gui_ev_char(0, c));
}
