// tests/support/screen_kit.hpp: the application record on a real (virtual) display with the
// program's own fonts and a private save folder, so whole screens can be built, looked at
// widget by widget and driven with synthetic pointer and key events.
#pragma once
#include <memory>
#include <vector>
#include <allegro5/allegro.h>

#include "main/app.hpp"
#include "model/model_test_env.hpp"

class ScreenKit {
public:
    // A w x h application at UI scale 1 with the default settings and an empty preset list.
    explicit ScreenKit(int w = 480, int h = 800);
    ~ScreenKit();
    ScreenKit(const ScreenKit &) = delete;
    ScreenKit &operator=(const ScreenKit &) = delete;

    // Switches to screen and builds it, as the loop does.
    void show(APP_SCREEN screen);
    // A new window size: the GUI is rebuilt, as after a resize.
    void resize(int w, int h);
    // What the loop does after the GUI handled an event: requests, then the rebuild asked for.
    void pass();

    // The visible widgets of a type, in window then insertion order; with text, only those
    // showing it (a button's or checkbox's label, a label's text, a combobox item).
    std::vector<KA_GUI_WIDGET *> all(int type, const char *text = nullptr);
    // The one widget of that type showing text (a test failure when there is none).
    KA_GUI_WIDGET *find(int type, const char *text);
    // The display position of a widget's centre.
    void centre(const KA_GUI_WIDGET *w, int *x, int *y);
    // A press and release at the widget's centre (or at dx, dy from its top left), then pass().
    void click(const KA_GUI_WIDGET *w, float dx = -1, float dy = -1);
    // Types UTF-8 text into the focused widget, then pass().
    void type(const char *utf8);
    // The loop's back key.
    void back();

    SaveDir save;
    std::unique_ptr<LUMIKEY_APP> holder;
    LUMIKEY_APP *app = nullptr;
    static ALLEGRO_DISPLAY *display;
    static ALLEGRO_FONT *font, *font_big;

private:
    void feed(const ALLEGRO_EVENT &ev);
    double clock_ = 1000;
};
