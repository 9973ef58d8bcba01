// tests/ui/screen_key_test.cpp: the key screen's state machine on a real display and a real
// keyer thread: keyboard keying (auto-repeat, focus loss, keys that must reach the GUI), the
// pad's touches, and what Done, Keep, Play, Clear and the mode toggles do with the message.
// ctest-label: display
// ctest-label: threaded
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "main/app.hpp"
#include "model/json_store.hpp"
#include "morse/keyer_run.hpp"
#include "platform/platform_desktop.hpp"
#include "support/fake_phone.hpp"
#include "support/morse_signal.hpp"
#include "support/paddle_operator.hpp"
#include "support/test_display.hpp"
#include "support/test_env.hpp"
#include "support/test_sequence.hpp"
#include "ui/screen_key.hpp"

using namespace std::chrono_literals;

namespace {

LUMIKEY_APP app; // large: static, zero-filled like the program's own

ALLEGRO_EVENT key_event(unsigned type, int keycode, double t, bool repeat = false) {
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof ev);
    ev.type = type;
    ev.keyboard.keycode = keycode;
    ev.keyboard.timestamp = t;
    ev.keyboard.repeat = repeat;
    return ev;
}

ALLEGRO_EVENT touch_event(unsigned type, int id, float x, float y) {
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof ev);
    ev.type = type;
    ev.touch.id = id;
    ev.touch.x = x;
    ev.touch.y = y;
    return ev;
}

class ScreenKeyTest : public DisplayTest {
protected:
    void SetUp() override {
        torch_shutdown();
        torch_set_platform(nullptr);
        memset(&app, 0, sizeof app);
        settings_default(&app.settings);
        app.settings.out_sound = 0; // no audio device in this test
        app.settings.out_screen = 0;
        app.settings.key_fixed_speed = 1;
        app.settings.timing.unit_ms = 100;
        app.settings.eom_timeout_ms = 1000;
        app.display = display;
        app.disp_w = 480;
        app.disp_h = 800;
        app.ui_scale = 1;
        app.font = app.font_big = font;
        app.received = received_new();
        ASSERT_TRUE(platform_init());
        app.gui = ka_gui_new_ctx(font);
        ASSERT_NE(app.gui, nullptr);
        ka_gui_set_display(app.gui, display);
        ka_gui_set_display_size(app.gui, 480, 800);
    }
    void TearDown() override {
        app_key_release(&app);
        decoder_free(&app.key.decoder);
        if (app.gui) ka_gui_destroy_ctx(&app.gui);
        received_free(&app.received);
        torch_shutdown();
        torch_set_platform(nullptr);
    }

    // Builds the key screen in mode, as the main loop does after a screen change.
    void build(KEY_MODE mode) {
        app.settings.key_mode = mode;
        app.screen = app.built_screen = SCREEN_KEY;
        screen_key_build(&app);
    }
    // Clicks the button with that caption through its callback.
    void click(const char *label) {
        for (size_t i = 0; i < app.gui->nb_windows; i++) {
            KA_GUI_WINDOW *w = app.gui->windows[i];
            for (size_t j = 0; j < w->nb_widgets; j++) {
                KA_GUI_WIDGET *wd = w->widgets[j];
                if (wd->type != KA_GUI_BUTTON) continue;
                auto *d = (KA_GUI_BUTTON_DATA *)wd->data;
                if (strcmp(d->label, label) != 0) continue;
                d->on_click(wd->id, d->user_data);
                return;
            }
        }
        FAIL() << "no button " << label;
    }
    int toggled(const char *label) {
        for (size_t i = 0; i < app.gui->nb_windows; i++) {
            KA_GUI_WINDOW *w = app.gui->windows[i];
            for (size_t j = 0; j < w->nb_widgets; j++) {
                KA_GUI_WIDGET *wd = w->widgets[j];
                auto *d = (KA_GUI_BUTTON_DATA *)wd->data;
                if (wd->type == KA_GUI_BUTTON && !strcmp(d->label, label)) return d->toggled;
            }
        }
        return -1;
    }
    // Every paragraph the text view would show, one per line.
    std::string view_text() {
        TEXT_PARA paras[8] = {};
        size_t n = app.key_text.fill(app.key_text.user, paras, 8);
        std::string out;
        for (size_t i = 0; i < n; i++) out += std::string(paras[i].text) + "\n";
        return out;
    }
    int kb(unsigned type, int keycode, double t, bool repeat = false) {
        ALLEGRO_EVENT ev = key_event(type, keycode, t, repeat);
        return screen_key_keyboard(&app, &ev);
    }
    // Keys text with Space at unit_ms from Allegro time t0 (seconds), with the key-down's
    // auto-repeat every 30 ms as the keyboard sends it; returns the time after the last edge.
    double key_with_space(const char *text, uint32_t unit_ms, double t0) {
        MORSE_SEQUENCE *seq = test_sequence(text, unit_ms);
        HAND_MODEL m;
        m.unit_ms = unit_ms;
        std::vector<KEY_EDGE_AT> edges = runs_to_edges(hand_runs(seq, m), t0 * 1000);
        morse_sequence_free(&seq);
        double last = t0 * 1000;
        for (const KEY_EDGE_AT &e : edges) {
            if (!e.down) {
                for (double t = last + 30; t < e.t; t += 30) {
                    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, t / 1000, true), 1);
                    // Some servers repeat the key-down itself.
                    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, t / 1000), 1);
                }
            }
            EXPECT_EQ(kb(e.down ? ALLEGRO_EVENT_KEY_DOWN : ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_SPACE,
                         e.t / 1000),
                      1);
            if (e.down) {
                EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, e.t / 1000), 1);
            }
            last = e.t;
        }
        return last / 1000;
    }
    std::string finish() {
        DECODED_MESSAGE msg;
        if (!decoder_finish(app.key.decoder, &msg)) return "";
        return msg.text;
    }

    // Outlives TearDown, whose release still switches the flashlight off through it.
    FakePhone phone;
    TempDir dir;
    ScopedEnv data_home{"XDG_DATA_HOME", dir.path().c_str()};
    LogCapture log{6};
};

TEST_F(ScreenKeyTest, SpaceKeysTheStraightKeyAndAutoRepeatAddsNoEdges) {
    build(KEY_MODE_SEND);
    // A repeat read as a release and a press would split every dash into dots.
    key_with_space("PARIS", 100, 1000.0);
    EXPECT_EQ(app.key.down, 0);
    EXPECT_EQ(finish(), "PARIS");
}

TEST_F(ScreenKeyTest, OnlyTheModesKeyingKeysAreTakenFromTheGui) {
    build(KEY_MODE_SEND);
    // Keys the screen does not key with reach the GUI and the back key.
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_ESCAPE, 1.0), 0);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_TAB, 1.0), 0);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_ENTER, 1.0), 0);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_LCTRL, 1.0), 0);
    EXPECT_EQ(app.key.down, 0);
    // Space keys, and its character never reaches a focused widget.
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, 1.0), 1);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, 1.0), 1);
    EXPECT_EQ(app.key.down, 1);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_SPACE, 1.2), 1);
    EXPECT_EQ(app.key.down, 0);

    click("Paddles");
    EXPECT_EQ(app.key.mode, KEY_MODE_PADDLES);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, 2.0), 0);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, 2.0), 0);
    for (int k :
         {ALLEGRO_KEY_LCTRL, ALLEGRO_KEY_RCTRL, ALLEGRO_KEY_OPENBRACE, ALLEGRO_KEY_CLOSEBRACE}) {
        EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, k, 2.0), 1) << k;
    }
}

TEST_F(ScreenKeyTest, LosingFocusReleasesAHeldStraightKey) {
    TORCH_PLATFORM torch = phone.torch();
    torch_set_platform(&torch);
    app.settings.out_torch = 1;
    build(KEY_MODE_SEND);
    kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, 1000.0);
    ASSERT_EQ(app.key.down, 1);
    ASSERT_TRUE(phone.wait_done(1));
    ALLEGRO_EVENT out;
    memset(&out, 0, sizeof out);
    out.type = ALLEGRO_EVENT_DISPLAY_SWITCH_OUT;
    out.any.timestamp = 1000.1;
    // The GUI needs the event too: it drops its own pressed state.
    EXPECT_EQ(screen_key_keyboard(&app, &out), 0);
    EXPECT_EQ(app.key.down, 0);
    DECODER_STATUS st;
    decoder_status(app.key.decoder, &st);
    EXPECT_EQ(st.on, 0) << "the decoder still takes the key for down";
    // The key-up that finally comes, and the repeats before it, key nothing more.
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, 1000.2, true), 1);
    EXPECT_EQ(kb(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_SPACE, 1000.5), 1);
    EXPECT_EQ(finish(), "E");
    ASSERT_TRUE(phone.wait_done(2));
    EXPECT_EQ(phone.names(), (std::vector<std::string>{"set 1", "set 0"}));
}

TEST_F(ScreenKeyTest, CtrlKeysAndBracketsKeyDitsAndDahsAndFocusLossStopsThem) {
    app.settings.timing.unit_ms = 40;
    build(KEY_MODE_PADDLES);
    ASSERT_EQ(keyrun_running(), 1);
    auto hold = [&](int keycode, std::chrono::milliseconds ms) {
        std::vector<KEYER_EDGE> edges;
        KEYER_EDGE buf[64];
        while (keyrun_take_edges(buf, 64) > 0) {
        }
        kb(ALLEGRO_EVENT_KEY_DOWN, keycode, al_get_time());
        for (int i = 0; i < 5; i++)
            kb(ALLEGRO_EVENT_KEY_CHAR, keycode, al_get_time(), true); // auto-repeat
        std::this_thread::sleep_for(ms);
        kb(ALLEGRO_EVENT_KEY_UP, keycode, al_get_time());
        std::this_thread::sleep_for(300ms); // the element under way ends
        size_t n;
        while ((n = keyrun_take_edges(buf, 64)) > 0) edges.insert(edges.end(), buf, buf + n);
        return keyer_edges_to_elements(edges, 40);
    };
    for (int k : {ALLEGRO_KEY_LCTRL, ALLEGRO_KEY_OPENBRACE}) {
        std::string e = hold(k, 400ms);
        EXPECT_GE(e.size(), 2u) << k;
        EXPECT_EQ(e.find_first_not_of('.'), std::string::npos) << k << ": " << e;
    }
    for (int k : {ALLEGRO_KEY_RCTRL, ALLEGRO_KEY_CLOSEBRACE}) {
        std::string e = hold(k, 600ms);
        EXPECT_GE(e.size(), 2u) << k;
        EXPECT_EQ(e.find_first_not_of('-'), std::string::npos) << k << ": " << e;
    }

    // Held when the window loses focus: the keyer stops after the element under way.
    kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_LCTRL, al_get_time());
    std::this_thread::sleep_for(200ms);
    ALLEGRO_EVENT out;
    memset(&out, 0, sizeof out);
    out.type = ALLEGRO_EVENT_DISPLAY_SWITCH_OUT;
    screen_key_keyboard(&app, &out);
    EXPECT_EQ(app.key.kb_keys, 0);
    std::this_thread::sleep_for(300ms);
    KEYER_EDGE buf[256];
    while (keyrun_take_edges(buf, 256) > 0) {
    }
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(keyrun_take_edges(buf, 256), 0u) << "the keyer kept keying after focus loss";
    EXPECT_EQ(__atomic_load_n(&app.key.keyer_down, __ATOMIC_ACQUIRE), 0);
}

TEST_F(ScreenKeyTest, TranscribeOutputsNothingAndKeepsIntoTheReceivedList) {
    TORCH_PLATFORM torch = phone.torch();
    torch_set_platform(&torch);
    app.settings.out_torch = 1;
    app.settings.out_screen = 1;
    build(KEY_MODE_TRANSCRIBE);
    EXPECT_EQ(app.key.screen_engaged, 0);
    double end = key_with_space("CQ", 100, 1000.0);
    // An E after a word gap, held long enough for a flashlight worker to have switched.
    kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, end + 0.7);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(phone.names().size(), 0u) << "the flashlight was switched while transcribing";
    kb(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_SPACE, end + 0.8);
    click("Keep");
    EXPECT_EQ(app.key.kept, 1);
    ASSERT_EQ(app.received->count, 1u);
    EXPECT_STREQ(app.received->items[0].text, "CQ E");
    EXPECT_STREQ(app.received->items[0].symbols, "-.-. --.- / .");
    EXPECT_EQ(app.received->items[0].unit_ms, 100u);
    EXPECT_EQ(app.history.count, 0u);
    std::string saved = read_file(dir.path() + "/lumikey/received.json");
    EXPECT_NE(saved.find("\"CQ E\""), std::string::npos) << saved;
    EXPECT_NE(view_text().find("Kept in Received"), std::string::npos) << view_text();
}

TEST_F(ScreenKeyTest, KeepKeepsOnceUntilTheNextMessageEnds) {
    app.settings.timing.unit_ms = 50;
    app.settings.eom_timeout_ms = 500;
    // Keyed on the Allegro clock, in the past, so that the loop's tick sees the silence after.
    if (al_get_time() < 4) al_rest(4 - al_get_time());
    build(KEY_MODE_SEND);
    key_with_space("SOS", 50, al_get_time() - 3.5);
    click("Keep");
    ASSERT_EQ(app.history.count, 1u);
    EXPECT_STREQ(app.history.items[0], "SOS");
    std::string saved = read_file(dir.path() + "/lumikey/sent_history.json");
    EXPECT_NE(saved.find("\"SOS\""), std::string::npos) << saved;
    EXPECT_NE(view_text().find("Kept in History"), std::string::npos) << view_text();
    // A second Keep finds the message kept and adds nothing, even to an emptied history.
    history_clear(&app.history);
    click("Keep");
    EXPECT_EQ(app.history.count, 0u);

    // The next message ends on silence: it is new, not yet kept.
    key_with_space("TE", 50, al_get_time() - 1.5);
    screen_key_update(&app);
    EXPECT_EQ(app.key.has_last, 1);
    EXPECT_STREQ(app.key.last.text, "TE");
    EXPECT_EQ(app.key.kept, 0);
    EXPECT_TRUE(log.contains("keyed 'TE' (unit 50 ms)")) << log.text();
    click("Keep");
    ASSERT_EQ(app.history.count, 1u);
    EXPECT_STREQ(app.history.items[0], "TE");
}

TEST_F(ScreenKeyTest, ButtonsWithNothingKeyedDoNothing) {
    build(KEY_MODE_SEND);
    click("Play");
    click("+ Preset");
    click("Keep");
    click("Done");
    EXPECT_EQ(app.play_requested, 0);
    EXPECT_EQ(app.play_from_message, 0);
    EXPECT_EQ(app.screen, SCREEN_KEY);
    EXPECT_EQ(app.key.kept, 0);
    EXPECT_EQ(app.history.count, 0u);
    EXPECT_EQ(app.received->count, 0u);
}

TEST_F(ScreenKeyTest, DoneWhileTheKeyIsHeldReleasesItThenFinishes) {
    TORCH_PLATFORM torch = phone.torch();
    torch_set_platform(&torch);
    app.settings.out_torch = 1;
    build(KEY_MODE_SEND);
    // Held since 100 ms ago on the Allegro clock: one unit, a dot.
    kb(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_SPACE, al_get_time() - 0.1);
    ASSERT_EQ(app.key.down, 1);
    ASSERT_TRUE(phone.wait_done(1));
    click("Done");
    EXPECT_EQ(app.key.down, 0);
    EXPECT_EQ(app.key.kb_keys, 0);
    EXPECT_EQ(app.key.has_last, 1);
    EXPECT_STREQ(app.key.last.text, "E");
    // The key is still physically down: its repeats and release key nothing.
    kb(ALLEGRO_EVENT_KEY_CHAR, ALLEGRO_KEY_SPACE, al_get_time(), true);
    kb(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_SPACE, al_get_time());
    EXPECT_EQ(app.key.down, 0);
    ASSERT_TRUE(phone.wait_done(2));
    EXPECT_EQ(phone.names(), (std::vector<std::string>{"set 1", "set 0"}));

    // Play sends the finished message.
    click("Play");
    EXPECT_EQ(app.play_requested, 1);
    EXPECT_EQ(app.play_from_message, 1);
    EXPECT_STREQ(app.play_text, "E");
}

TEST_F(ScreenKeyTest, TheActiveModeKeepsTheDecoderAnotherStartsOver) {
    build(KEY_MODE_SEND);
    key_with_space("K", 100, 1000.0);
    click("Done");
    ASSERT_EQ(app.key.has_last, 1);
    MORSE_DECODER *dec = app.key.decoder;
    app.needs_rebuild = 0;
    click("Send by tap");
    EXPECT_EQ(app.key.decoder, dec);
    EXPECT_EQ(app.key.has_last, 1);
    EXPECT_EQ(app.settings_dirty, 0);
    EXPECT_EQ(app.needs_rebuild, 1);

    click("Transcribe");
    EXPECT_EQ(app.key.mode, KEY_MODE_TRANSCRIBE);
    EXPECT_EQ(app.settings.key_mode, (uint32_t)KEY_MODE_TRANSCRIBE);
    EXPECT_EQ(app.settings_dirty, 1);
    EXPECT_EQ(app.key.has_last, 0);
    // A rebuild shows the new mode's toggle on, and only it.
    ka_gui_destroy_ctx(&app.gui);
    app.gui = ka_gui_new_ctx(font);
    ka_gui_set_display(app.gui, display);
    screen_key_build(&app);
    EXPECT_EQ(toggled("Transcribe"), 1);
    EXPECT_EQ(toggled("Send by tap"), 0);
    EXPECT_EQ(toggled("Paddles"), 0);
}

TEST_F(ScreenKeyTest, TouchesOnThePaddles) {
    build(KEY_MODE_PADDLES);
    KEYPAD &k = app.key;
    k.pad_x = 12, k.pad_y = 364, k.pad_w = 456, k.pad_h = 400;
    auto touch = [&](unsigned type, int id, float x, float y) {
        ALLEGRO_EVENT ev = touch_event(type, id, x, y);
        return screen_key_touch(&app, &ev);
    };
    // Outside the pad: not used, even when it moves on.
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1, 100, 100), 0);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_MOVE, 1, 100, 500), 0);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_END, 1, 100, 500), 0);
    EXPECT_EQ(k.dit + k.dah, 0);
    // The pad's edges count as inside; left half dit, right half dah.
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 2, 12, 364), 1);
    EXPECT_EQ(k.dit, 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 3, 468, 764), 1);
    EXPECT_EQ(k.dah, 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 4, 100, 500), 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 5, 100, 500), 1);
    // A fifth finger finds no slot: lifting it is not used, the others hold on.
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 6, 400, 500), 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_END, 6, 400, 500), 0);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_END, 3, 468, 764), 1);
    EXPECT_EQ(k.dah, 0);
    EXPECT_EQ(k.dit, 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_CANCEL, 2, 0, 0), 1);
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_END, 4, 0, 0), 1);
    EXPECT_EQ(k.dit, 1) << "finger 5 still holds the dit paddle";
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_END, 5, 0, 0), 1);
    EXPECT_EQ(k.dit + k.dah, 0);
    // Not in paddles mode: nothing is used.
    click("Send by tap");
    EXPECT_EQ(touch(ALLEGRO_EVENT_TOUCH_BEGIN, 7, 100, 500), 0);
}

} // namespace
