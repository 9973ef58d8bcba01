// tests/ka/ka_gui_event_clipboard_test.cpp: copy, cut and paste in text areas, middle-button
// paste of PRIMARY, and mouse selections published as PRIMARY, through the X11 clipboard
// service on a real (virtual) X display.
// ctest-label: display
// ctest-label: threaded
#include <cstdlib>
#include <random>
#include <string>
#include <gtest/gtest.h>

#include "support/gui_event_kit.hpp"
#include "support/ka_clipboard.hpp"
#include "support/ka_gui.hpp"

namespace {

std::string take(char *owned) {
    std::string s = owned ? owned : "";
    free(owned);
    return s;
}

bool valid_utf8(const std::string &s) {
    ALLEGRO_USTR_INFO info;
    const ALLEGRO_USTR *u = al_ref_buffer(&info, s.data(), s.size());
    int pos = 0;
    while (pos < (int)s.size()) {
        int32_t c = al_ustr_get_next(u, &pos);
        if (c < 0) return false;
    }
    return true;
}

class GuiClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (tools/run-tests.sh starts one)";
        ASSERT_EQ(ka_clipboard_available(), 1);
    }
    GuiKit k;
    int add(size_t limit, int multiline = 0) {
        int win = k.window(0, 0, 400, 400);
        int id = ka_gui_add_textarea(k.ctx, win, 10, 10, 200, multiline ? 100 : 20, multiline,
                                     limit, gui_rec_text, &k.rec);
        ka_gui_set_focus(k.ctx, id);
        return id;
    }
    std::string text(int id) { return ka_gui_textarea_get_text(k.ctx, id); }
};

TEST_F(GuiClipboardTest, CopyCutAndPasteGoThroughTheClipboard) {
    int t = add(63);
    k.type("Grüße");
    ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "before");
    k.key(ALLEGRO_KEY_C, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD)), "before") << "nothing selected";
    k.key(ALLEGRO_KEY_LEFT, ALLEGRO_KEYMOD_SHIFT);
    k.key(ALLEGRO_KEY_LEFT, ALLEGRO_KEYMOD_SHIFT);
    k.key(ALLEGRO_KEY_C, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD)), "ße");
    int changes = k.rec.count("text");
    k.key(ALLEGRO_KEY_X, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(t), "Grü");
    EXPECT_EQ(k.rec.count("text"), changes + 1);
    k.key(ALLEGRO_KEY_HOME);
    k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(t), "ßeGrü");
    EXPECT_EQ(k.rec.last("text")->text, "ßeGrü");
    EXPECT_EQ(k.widget(t) ? k.data<KA_GUI_TEXTAREA_DATA>(t)->cursor_pos : 0, strlen("ße"));
}

TEST_F(GuiClipboardTest, PasteLargerThanTheRoomPastesNothing) {
    int t = add(7);
    k.type("abc");
    ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "12345");
    k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(t), "abc");
    EXPECT_EQ(k.rec.count("text"), 3);
    ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "1234");
    k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(t), "abc1234");
}

TEST_F(GuiClipboardTest, PasteDropsControlBytesAndBrokenCharacters) {
    const char *dirty = "a\r\nb\tc\x01\xff\xc3(\xe2\x82 é\xed\xa0\x80!";
    int single = add(63);
    ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, dirty);
    k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(single), "abc( é!");
    int multi = add(63, 1);
    k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(text(multi), "a\nbc( é!") << "newlines stay in a multi-line area, CRs never";
}

TEST_F(GuiClipboardTest, BinaryPasteLeavesValidTextWithinTheLimit) {
    std::mt19937 rng(7);
    for (size_t limit : {(size_t)0, (size_t)511, (size_t)7}) {
        int t = add(limit, 1);
        std::string junk;
        for (int i = 0; i < 20000; i++) junk += (char)(1 + rng() % 255);
        ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, junk.c_str());
        for (int i = 0; i < 3; i++) k.key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
        std::string s = text(t);
        EXPECT_LE(s.size(), limit ? limit : 4095) << limit;
        EXPECT_TRUE(valid_utf8(s)) << limit;
        EXPECT_EQ(s.find('\r'), std::string::npos);
        KA_GUI_TEXTAREA_DATA *d = k.data<KA_GUI_TEXTAREA_DATA>(t);
        EXPECT_EQ(d->text_len, s.size());
        EXPECT_LE(d->cursor_pos, d->text_len);
        for (int i = 0; i < 50; i++) k.key(ALLEGRO_KEY_LEFT);
        for (int i = 0; i < 50; i++) k.key(ALLEGRO_KEY_BACKSPACE);
        EXPECT_TRUE(valid_utf8(text(t)));
    }
}

TEST_F(GuiClipboardTest, MiddleButtonPastesPrimaryAtTheCursor) {
    int t = add(63);
    k.type("ab");
    k.key(ALLEGRO_KEY_LEFT);
    ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "XY");
    k.press(300, 300, 3);
    EXPECT_EQ(text(t), "aXYb");
    // Without a focused text area the middle button does nothing.
    ka_gui_set_focus(k.ctx, -1);
    k.press(30, 20, 3);
    EXPECT_EQ(text(t), "aXYb");
}

TEST_F(GuiClipboardTest, MouseSelectionsBecomePrimary) {
    al_set_new_display_flags(ALLEGRO_WINDOWED);
    ALLEGRO_DISPLAY *display = al_create_display(400, 400);
    ASSERT_NE(display, nullptr);
    ka_gui_set_display(k.ctx, display);
    int t = add(63);
    ka_gui_textarea_set_text(k.ctx, t, "hello world");
    ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "old");
    k.press(14 + 6 * 8, 20);
    k.move(14 + 11 * 8, 20);
    k.release(14 + 11 * 8, 20);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_PRIMARY)), "world");
    // A label's selection wins, and Control+C copies it.
    int win = k.window(0, 100, 400, 100);
    ka_gui_add_label(k.ctx, win, "morse code", 0, 0, 400, 20, 0);
    k.press(4 + 6 * 8, 110);
    k.move(4 + 10 * 8, 110);
    k.release(4 + 10 * 8, 110);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_PRIMARY)), "code");
    k.feed(gui_ev_key(true, ALLEGRO_KEY_LCTRL));
    k.feed(gui_ev_key(true, ALLEGRO_KEY_C));
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD)), "code");
    // A selection in another label ends the first one.
    int other = ka_gui_add_label(k.ctx, win, "dit dah", 0, 40, 400, 20, 0);
    k.press(4, 150);
    k.move(4 + 3 * 8, 150);
    k.release(4 + 3 * 8, 150);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_PRIMARY)), "dit");
    k.feed(gui_ev_key(true, ALLEGRO_KEY_C));
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD)), "dit");
    EXPECT_EQ(k.data<KA_GUI_LABEL_DATA>(other)->sel_end, 3);
    // A justified line: the word copied is the one drawn under the pointer ("b" at 88..96).
    ka_gui_add_label(k.ctx, win, "a b cccccccccccc dd", 0, 70, 100, 30, KA_GUI_ALIGN_JUSTIFY);
    k.press(88, 175);
    k.move(96, 175);
    k.release(96, 175);
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_PRIMARY)), "b");
    k.feed(gui_ev_key(true, ALLEGRO_KEY_C));
    EXPECT_EQ(take(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD)), "b");
    ka_gui_destroy_ctx(&k.ctx);
    al_destroy_display(display);
}

} // namespace
