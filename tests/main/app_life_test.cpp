// tests/main/app_life_test.cpp: the loop's lifecycle on a phone-like system side that records
// its calls: the soft keyboard and its room, the screen-on lock, the background announcement,
// and the display halting and resuming, driven by the display events a phone sends.
// ctest-label: display
// ctest-label: threaded
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>

#include "audio/tone.hpp"
#include "main/app.hpp"
#include "model/model_test_env.hpp"
#include "support/app_rig.hpp"
#include "support/fake_system.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

using Calls = std::vector<std::string>;

class Life : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(al_init());
        al_init_font_addon();
        al_init_primitives_addon();
        // The X server may still be resetting after the previous test program: retry a while.
        al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_RESIZABLE);
        for (int i = 0; i < 50 && !display; i++) {
            display = al_create_display(480, 800);
            if (!display) al_rest(0.1);
        }
        ASSERT_NE(display, nullptr);
    }
    static void TearDownTestSuite() {
        if (display) al_destroy_display(display);
        display = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(save_.ok());
        resize(480, 800);
        rig_.reset(new AppRig(display));
        a = rig_->app;
        ASSERT_NE(a->gui, nullptr);
        ASSERT_EQ(a->rx_ready, 1);
    }
    void TearDown() override { rig_.reset(); }

    static void resize(int w, int h) {
        if (al_get_display_width(display) == w && al_get_display_height(display) == h) return;
        al_resize_display(display, w, h);
        for (int i = 0; i < 40 && al_get_display_width(display) != w; i++) al_rest(0.05);
        ASSERT_EQ(al_get_display_width(display), w);
        ASSERT_EQ(al_get_display_height(display), h);
    }
    void pass(const ALLEGRO_EVENT &ev) { app_loop_pass(a, &ev); }
    void pass(unsigned type) { pass(rig_->display_event(type)); }
    void idle() { app_loop_pass(a, nullptr); }
    // Loop passes without events until done() or 10 s.
    template <typename DONE> bool idle_until(DONE done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < until) {
            idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }
    // A send as the home screen asks for one, applied by the next pass.
    void send(const char *text) {
        app_request_play(a, text);
        idle();
        ASSERT_EQ(a->screen, SCREEN_PLAY);
        ASSERT_TRUE(player_is_playing(a->player));
    }
    // Where the widget is on the display (the screens' windows fill it from the corner).
    void centre_of(int id, int *x, int *y) {
        KA_GUI_WIDGET *w = ka_gui_get_widget(a->gui, id);
        ASSERT_NE(w, nullptr);
        *x = (int)(w->x + w->w / 2);
        *y = (int)(w->y + w->h / 2);
    }
    ALLEGRO_EVENT mouse(unsigned type, int x, int y) {
        ALLEGRO_EVENT ev{};
        ev.type = type;
        ev.mouse.x = x;
        ev.mouse.y = y;
        ev.mouse.button = 1;
        ev.mouse.display = display;
        ev.any.timestamp = al_get_time();
        return ev;
    }
    void tap(int id) {
        int x, y;
        centre_of(id, &x, &y);
        pass(mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x, y));
        pass(mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x, y));
    }

    static ALLEGRO_DISPLAY *display;
    SaveDir save_;
    FakeSystem sys;
    std::unique_ptr<AppRig> rig_;
    LUMIKEY_APP *a = nullptr;
};
ALLEGRO_DISPLAY *Life::display = nullptr;

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A phone taking the program away mid-send, without background work allowed: the send stops
// cleanly, nothing is built or drawn while away, and the resume rebuilds the home screen at the
// size the display has then, dropping what queued up meanwhile.
TEST_F(Life, AHaltStopsAnUnannouncedSendAndTheResumeRebuildsAtTheNewSize) {
    a->settings.run_locked = 0;
    a->settings.loop = 1;
    send("PARIS");
    EXPECT_EQ(sys.of("keep on"), Calls{"keep on 1"});

    LogCapture log(LOG_INFO);
    pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
    EXPECT_EQ(a->display_halted, 1);
    EXPECT_FALSE(player_is_playing(a->player));
    EXPECT_EQ(a->screen, SCREEN_HOME);
    EXPECT_EQ(a->built_screen, SCREEN_PLAY) << "nothing is built while halted";
    EXPECT_FALSE(tone_available()) << "audio is let go when nothing goes on";
    EXPECT_TRUE(log.contains("halted: playback stopped, receiver stopped"));
    EXPECT_TRUE(log.contains("halted drawing"));
    EXPECT_EQ(sys.of("keep on"), (Calls{"keep on 1", "keep on 0"}))
        << "a stopped send must not hold the screen on from a hidden window";
    EXPECT_TRUE(sys.of("background").empty()) << "run_locked is off";
    EXPECT_EQ(sys.of("halt"), Calls{"halt"});

    // While away the display changed size, and events queued up.
    resize(400, 700);
    ALLEGRO_EVENT stale{};
    stale.user.type = LUMIKEY_WAKE_EVENT;
    rig_->inject(stale);
    rig_->inject(stale);
    idle();
    EXPECT_EQ(a->built_screen, SCREEN_PLAY);
    EXPECT_EQ(a->disp_w, 480) << "the size is read at the resume, not while away";

    pass(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    EXPECT_EQ(a->display_halted, 0);
    EXPECT_TRUE(al_is_event_queue_empty(a->queue)) << "what queued while halted is dropped";
    EXPECT_EQ(a->disp_w, 400);
    EXPECT_EQ(a->disp_h, 700);
    EXPECT_EQ(a->built_screen, SCREEN_HOME);
    EXPECT_EQ(a->needs_rebuild, 0);
    EXPECT_EQ(a->gui->display_w, 400.0f);
    EXPECT_EQ(a->gui->display_h, 700.0f);
    EXPECT_TRUE(tone_available()) << "audio is back";
    EXPECT_TRUE(log.contains("resumed drawing, display 400x700"));
    EXPECT_EQ(sys.of("resume"), Calls{"resume"});
    EXPECT_EQ(a->redraw, 0) << "the first frame after the resume is drawn in the same pass";
}

// A send announced as background work goes on while away; losing the focus is no halt; while
// away a receiver start cannot widen the announcement, after the resume it can.
TEST_F(Life, AnAnnouncedSendGoesOnAndTheAnnouncementOnlyNarrowsWhileHalted) {
    ASSERT_TRUE(tone_available()) << "the background send needs sound (ALSOFT_DRIVERS=null)";
    a->settings.loop = 1;
    send("PARIS");
    ASSERT_EQ(a->play_bg, 1);
    EXPECT_EQ(sys.of("background"), Calls{"background 1 Lumikey|Sending Morse"});
    EXPECT_EQ(sys.of("notifications").size(), 1u);

    pass(ALLEGRO_EVENT_DISPLAY_SWITCH_OUT);
    EXPECT_TRUE(player_is_playing(a->player)) << "a window without focus goes on sending";
    pass(ALLEGRO_EVENT_DISPLAY_SWITCH_IN);
    EXPECT_TRUE(sys.of("halt").empty());

    LogCapture log(LOG_INFO);
    pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
    EXPECT_TRUE(log.contains("halted: playback kept, receiver stopped"));
    EXPECT_TRUE(player_is_playing(a->player));
    EXPECT_EQ(a->screen, SCREEN_PLAY);
    EXPECT_TRUE(tone_available()) << "the kept send still sounds";
    EXPECT_EQ(sys.of("keep on"), Calls{"keep on 1"});

    a->rx.active = 1; // a receiver that started while away
    for (int i = 0; i < 3; i++) idle();
    EXPECT_EQ(sys.of("background"), Calls{"background 1 Lumikey|Sending Morse"});
    EXPECT_EQ(a->bg_kinds, 1);

    pass(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    EXPECT_EQ(sys.of("background"), (Calls{"background 1 Lumikey|Sending Morse",
                                           "background 3 Lumikey|Sending and receiving Morse"}));
    EXPECT_EQ(a->bg_kinds, 3);
    EXPECT_EQ(a->built_screen, SCREEN_PLAY) << "the kept send's screen comes back";
}

// A kept send that ends while away takes the program home (built at the resume), withdraws its
// announcement and lets the screen go; a receiver that began while away is not announced.
TEST_F(Life, AKeptSendEndingWhileHaltedGoesHomeAndWithdrawsTheAnnouncement) {
    ASSERT_TRUE(tone_available()) << "the background send needs sound (ALSOFT_DRIVERS=null)";
    a->settings.timing.unit_ms = 60;
    send("EEE");
    pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
    ASSERT_TRUE(player_is_playing(a->player));
    a->rx.active = 1;
    ASSERT_TRUE(idle_until([&] { return a->screen == SCREEN_HOME; }));
    EXPECT_FALSE(player_is_playing(a->player));
    EXPECT_EQ(a->needs_rebuild, 1);
    EXPECT_EQ(a->built_screen, SCREEN_PLAY);
    Calls bg = sys.of("background");
    ASSERT_EQ(bg.size(), 2u);
    EXPECT_EQ(bg[0], "background 1 Lumikey|Sending Morse");
    EXPECT_EQ(bg[1], "background stop")
        << "the receiver that began while away must not keep the send's announcement alive";
    EXPECT_EQ(a->bg_kinds, 0);

    a->rx.active = 0;
    pass(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    EXPECT_EQ(a->built_screen, SCREEN_HOME);
}

// Nothing the user set is lost when the program is sent away.
TEST_F(Life, DirtySettingsAreSavedAtTheHalt) {
    a->settings.timing.unit_ms = 93;
    a->settings_dirty = 1;
    pass(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
    EXPECT_EQ(a->settings_dirty, 0);
    std::string saved = read_file(save_.file("settings.json"));
    SETTINGS back;
    settings_default(&back);
    ASSERT_TRUE(settings_from_json(&back, saved.c_str())) << saved;
    EXPECT_EQ(back.timing.unit_ms, 93u);
}

// The keyboard comes with the focus on the message field, stays while the pointer that took
// the focus away is still held, and a tap on the focused field brings back a keyboard the user
// dismissed.
TEST_F(Life, TheKeyboardFollowsTheFocusAndATapOnTheFocusedFieldBringsItBack) {
    ASSERT_GE(a->msg_field, 0);
    tap(a->msg_field);
    ASSERT_EQ(ka_gui_get_focus(a->gui), a->msg_field);
    EXPECT_EQ(sys.of("show keyboard").size(), 1u);
    EXPECT_EQ(a->keyboard_shown, 1);
    idle();
    EXPECT_EQ(sys.of("show keyboard").size(), 1u) << "once is enough while the focus stays";

    sys.keyboard_visible = 0; // the user dismissed it
    idle();
    EXPECT_EQ(sys.of("show keyboard").size(), 1u) << "no tap, no keyboard forced back";
    tap(a->msg_field);
    EXPECT_EQ(sys.of("show keyboard").size(), 2u);
    sys.keyboard_visible = 1;

    // The focus leaves while the pointer is held: it may be on its way to another field.
    a->pointer_down = 1;
    ka_gui_set_focus(a->gui, -1);
    idle();
    EXPECT_TRUE(sys.of("hide keyboard").empty());
    a->pointer_down = 0;
    idle();
    EXPECT_EQ(sys.of("hide keyboard").size(), 1u);
    EXPECT_EQ(a->keyboard_shown, 0);
}

// The room kept for the keyboard follows its height, polled at most every 0.2 s; a change of
// 7 pixels or less is jitter, 8 rebuilds the home screen; it never takes more than 3/4.
TEST_F(Life, KeyboardRoomIgnoresSevenPixelsOfJitter) {
    ka_gui_set_focus(a->gui, a->msg_field);
    a->focus_was_text = 1;
    LogCapture log(LOG_INFO);
    auto poll = [&](int height) {
        sys.keyboard_overlap = height;
        a->kb_poll_time = -1;
        KA_GUI_CTX *before = a->gui;
        idle();
        // The next pass rebuilds (a new context is made while the old one lives, so a rebuild
        // always changes the pointer).
        idle();
        return a->gui != before;
    };
    EXPECT_TRUE(poll(300));
    EXPECT_EQ(a->kb_overlap, 300);
    EXPECT_EQ(ka_gui_get_focus(a->gui), a->msg_field) << "the rebuild keeps the focus";
    EXPECT_FALSE(poll(307));
    EXPECT_FALSE(poll(293));
    EXPECT_EQ(a->kb_overlap, 300);
    EXPECT_TRUE(poll(308));
    EXPECT_EQ(a->kb_overlap, 308);
    EXPECT_TRUE(poll(5000));
    EXPECT_EQ(a->kb_overlap, 600);

    // Polled again only after 0.2 s.
    sys.keyboard_overlap = 100;
    a->kb_poll_time = al_get_time();
    idle();
    EXPECT_EQ(a->kb_overlap, 600);

    // An unknown height is a typical keyboard's share while one is asked for.
    sys.keyboard_overlap = -1;
    a->keyboard_shown = 1;
    EXPECT_TRUE(poll(-1));
    EXPECT_EQ(a->kb_overlap, 336);
    std::string text = log.text();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("soft keyboard covers", at)) != std::string::npos; at++)
        lines++;
    EXPECT_EQ(lines, 4u) << text;
}

// The room for the keyboard and the Enter key belong to the built screen's message field: the
// receive screen has one only in send + receive, the home screen always; going home forgets
// send + receive.
TEST_F(Life, OnlyAScreenWithAMessageFieldMakesRoomForTheKeyboardAndEnterSendsFromIt) {
    auto poll = [&](int height) {
        sys.keyboard_overlap = height;
        a->kb_poll_time = -1;
        KA_GUI_CTX *before = a->gui;
        idle();
        idle();
        return a->gui != before;
    };
    app_set_screen(a, SCREEN_RECEIVE);
    idle();
    ASSERT_EQ(a->built_screen, SCREEN_RECEIVE);
    EXPECT_EQ(app_message_field(a), -1);
    a->kb_overlap = 1; // a keyboard was up: its height is still followed
    EXPECT_FALSE(poll(300)) << "receive only has no field to lift above the keyboard";
    EXPECT_EQ(a->kb_overlap, 300);

    a->receive.duplex = 1;
    a->needs_rebuild = 1;
    idle();
    ASSERT_GE(a->receive.msg_field, 0);
    EXPECT_EQ(app_message_field(a), a->receive.msg_field);
    EXPECT_TRUE(poll(400));
    ka_gui_textarea_set_text(a->gui, a->receive.msg_field, "QRV");
    app_set_screen(a, SCREEN_RECEIVED);
    idle();
    EXPECT_STREQ(a->receive.msg_text, "QRV") << "kept when the screen went";
    app_set_screen(a, SCREEN_HOME);
    EXPECT_EQ(a->receive.duplex, 0);
    EXPECT_STREQ(a->receive.msg_text, "");
    idle();

    ALLEGRO_EVENT enter{};
    enter.type = ALLEGRO_EVENT_KEY_DOWN;
    enter.keyboard.keycode = ALLEGRO_KEY_ENTER;
    enter.keyboard.display = display;
    enter.any.timestamp = al_get_time();
    ASSERT_GE(a->msg_field, 0);
    ka_gui_textarea_set_text(a->gui, a->msg_field, "TEST");
    ka_gui_set_focus(a->gui, -1);
    size_t sent = a->history.count;
    pass(enter);
    EXPECT_EQ(a->history.count, sent) << "Enter outside the message field sends nothing";
    EXPECT_EQ(a->screen, SCREEN_HOME);
    ka_gui_set_focus(a->gui, a->msg_field);
    pass(enter);
    ASSERT_EQ(a->history.count, sent + 1);
    EXPECT_STREQ(a->history.items[0], "TEST");
    EXPECT_EQ(a->screen, SCREEN_PLAY);
}

// The screen-on lock is held while a send plays, and only when the setting asks for it.
TEST_F(Life, TheScreenStaysOnDuringASendOnlyWhenTheSettingSaysSo) {
    a->settings.loop = 1;
    a->settings.keep_screen_on = 0;
    send("PARIS");
    app_request_stop(a);
    idle();
    EXPECT_TRUE(sys.of("keep on").empty());

    a->settings.keep_screen_on = 1;
    send("PARIS");
    EXPECT_EQ(sys.of("keep on"), Calls{"keep on 1"});
    app_request_stop(a);
    idle();
    EXPECT_EQ(a->screen, SCREEN_HOME);
    EXPECT_EQ(sys.of("keep on"), (Calls{"keep on 1", "keep on 0"}));
    EXPECT_EQ(a->keep_on, 0);
}

} // namespace
