// tests/ka/ka_gui_event_text_test.cpp: editing in text areas through key chars and the
// pointer: byte limits with multi-byte characters, whole-character moves and deletions,
// selections, Enter, vertical moves over wrapped lines, and very long input.
#include <string>
#include <gtest/gtest.h>

#include "support/gui_event_kit.hpp"
#include "support/ka_gui.hpp"

namespace {

// A kit with one text area at (10, 10), 200 x 20 (multi-line: 200 x 100); its text starts at
// x 14 (padding 4) and every character of the built-in font is 8 pixels wide.
struct Text {
    GuiKit k;
    int win, id;
    explicit Text(size_t limit, int multiline = 0) {
        win = k.window(0, 0, 400, 400);
        id = ka_gui_add_textarea(k.ctx, win, 10, 10, 200, multiline ? 100 : 20, multiline, limit,
                                 gui_rec_text, &k.rec);
        ka_gui_set_focus(k.ctx, id);
    }
    std::string text() { return ka_gui_textarea_get_text(k.ctx, id); }
    KA_GUI_TEXTAREA_DATA *d() { return k.data<KA_GUI_TEXTAREA_DATA>(id); }
    std::string selected() {
        size_t lo = std::min(d()->sel_start, d()->sel_end),
               hi = std::max(d()->sel_start, d()->sel_end);
        return text().substr(lo, hi - lo);
    }
};

TEST(GuiTextTest, TypingReportsTheWholeTextEachTime) {
    Text t(63);
    t.k.type("Grüße ÇA");
    EXPECT_EQ(t.text(), "Grüße ÇA");
    EXPECT_EQ(t.k.rec.count("text"), 8);
    EXPECT_EQ(t.k.rec.last("text")->text, "Grüße ÇA");
    EXPECT_EQ(t.k.rec.last("text")->id, t.id);
    EXPECT_EQ(t.d()->cursor_pos, strlen("Grüße ÇA"));
    // Control characters are not text.
    t.k.feed(gui_ev_char(ALLEGRO_KEY_ESCAPE, 27));
    t.k.feed(gui_ev_char(0, 7));
    EXPECT_EQ(t.text(), "Grüße ÇA");
    EXPECT_EQ(t.k.rec.count("text"), 8);
}

// A text put in by the program (a preset opened for editing, a draft after a rebuild) is typed
// on at its end; a selection the user made stays selected.
TEST(GuiTextTest, TypingAfterSetTextGoesOnAtTheEnd) {
    Text t(63);
    t.k.type("ab");
    t.k.key(ALLEGRO_KEY_HOME);
    ka_gui_textarea_set_text(t.k.ctx, t.id, "CQ CQ");
    t.k.type(" DE");
    EXPECT_EQ(t.text(), "CQ CQ DE");
    t.k.key(ALLEGRO_KEY_LEFT, ALLEGRO_KEYMOD_SHIFT);
    ka_gui_textarea_set_text(t.k.ctx, t.id, "CQ CQ DX");
    EXPECT_EQ(t.selected(), "X");
}

TEST(GuiTextTest, ByteLimitRefusesWholeCharactersSilently) {
    Text t(7);
    t.k.type("abcdefg");
    t.k.type("h");
    EXPECT_EQ(t.text(), "abcdefg");
    EXPECT_EQ(t.k.rec.count("text"), 7) << "a refused key calls nothing";
    t.k.key(ALLEGRO_KEY_BACKSPACE);
    t.k.type("é"); // two bytes, one left
    EXPECT_EQ(t.text(), "abcdef");
    t.k.type("z");
    EXPECT_EQ(t.text(), "abcdefz");
    // Replacing a selection counts the bytes it frees.
    t.k.key(ALLEGRO_KEY_LEFT, ALLEGRO_KEYMOD_SHIFT);
    t.k.type("é");
    EXPECT_EQ(t.text(), "abcdefz") << "7 - 1 + 2 is over the limit";
    EXPECT_EQ(t.selected(), "z") << "a refused edit keeps the selection";
}

TEST(GuiTextTest, BackspaceAndDeleteRemoveWholeCharacters) {
    Text t(63);
    t.k.type("a€b😀");
    t.k.key(ALLEGRO_KEY_BACKSPACE);
    EXPECT_EQ(t.text(), "a€b") << "four bytes at once";
    t.k.key(ALLEGRO_KEY_LEFT);
    t.k.key(ALLEGRO_KEY_BACKSPACE);
    EXPECT_EQ(t.text(), "ab") << "the three bytes of the euro sign at once";
    t.k.key(ALLEGRO_KEY_HOME);
    t.k.key(ALLEGRO_KEY_DELETE);
    EXPECT_EQ(t.text(), "b");
    t.k.key(ALLEGRO_KEY_END);
    size_t calls = t.k.rec.count("text");
    t.k.key(ALLEGRO_KEY_DELETE);
    t.k.key(ALLEGRO_KEY_HOME);
    t.k.key(ALLEGRO_KEY_BACKSPACE);
    EXPECT_EQ(t.text(), "b");
    EXPECT_EQ((size_t)t.k.rec.count("text"), calls) << "nothing deleted, nothing reported";
}

TEST(GuiTextTest, ArrowsStepCharactersAndShiftSelects) {
    Text t(63);
    t.k.type("xü€y");
    t.k.key(ALLEGRO_KEY_LEFT);
    t.k.key(ALLEGRO_KEY_LEFT);
    EXPECT_EQ(t.d()->cursor_pos, strlen("xü"));
    t.k.key(ALLEGRO_KEY_LEFT, ALLEGRO_KEYMOD_SHIFT);
    EXPECT_EQ(t.selected(), "ü");
    t.k.key(ALLEGRO_KEY_END, ALLEGRO_KEYMOD_SHIFT);
    EXPECT_EQ(t.selected(), "€y") << "Shift+End extends from the old cursor";
    t.k.key(ALLEGRO_KEY_LEFT);
    EXPECT_EQ(t.d()->cursor_pos, strlen("xü")) << "Left collapses to the selection's left end";
    EXPECT_EQ(t.selected(), "");
    t.k.key(ALLEGRO_KEY_HOME, ALLEGRO_KEYMOD_SHIFT);
    t.k.type("Z");
    EXPECT_EQ(t.text(), "Z€y") << "typing replaces the selection";
    t.k.key(ALLEGRO_KEY_A, ALLEGRO_KEYMOD_CTRL);
    EXPECT_EQ(t.selected(), "Z€y");
    EXPECT_EQ(t.d()->cursor_pos, t.text().size());
    t.k.key(ALLEGRO_KEY_RIGHT);
    EXPECT_EQ(t.selected(), "");
    EXPECT_EQ(t.d()->cursor_pos, t.text().size());
    t.k.key(ALLEGRO_KEY_A, ALLEGRO_KEYMOD_CTRL);
    t.k.key(ALLEGRO_KEY_BACKSPACE);
    EXPECT_EQ(t.text(), "");
}

TEST(GuiTextTest, EnterIsOnlyForMultiLineAreas) {
    Text single(63);
    single.k.type("ab");
    EXPECT_EQ(single.k.feed(gui_ev_char(ALLEGRO_KEY_ENTER, 13)), 0) << "falls through";
    EXPECT_EQ(single.text(), "ab");
    EXPECT_EQ(single.k.rec.count("text"), 2);
    Text multi(63, 1);
    multi.k.type("ab");
    multi.k.key(ALLEGRO_KEY_LEFT);
    multi.k.key(ALLEGRO_KEY_PAD_ENTER);
    EXPECT_EQ(multi.text(), "a\nb");
    EXPECT_EQ(multi.k.rec.count("text"), 3);
}

TEST(GuiTextTest, UpAndDownFollowVisualLines) {
    // Inner width 192: 24 characters a line, no wrapping needed here.
    Text t(255, 1);
    ka_gui_textarea_set_text(t.k.ctx, t.id, "abcdefgh\nab\nabcdefghij");
    t.k.key(ALLEGRO_KEY_HOME);
    t.k.key(ALLEGRO_KEY_RIGHT);
    t.k.key(ALLEGRO_KEY_RIGHT);
    t.k.key(ALLEGRO_KEY_RIGHT); // after "abc"
    t.k.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t.d()->cursor_pos, strlen("abcdefgh\nab")) << "nearest on a shorter line: its end";
    t.k.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t.d()->cursor_pos, strlen("abcdefgh\nab\nab"));
    t.k.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t.d()->cursor_pos, t.text().size()) << "from the last line Down goes to the end";
    t.k.key(ALLEGRO_KEY_UP, ALLEGRO_KEYMOD_SHIFT);
    EXPECT_EQ(t.selected(), "\nabcdefghij");
    t.k.key(ALLEGRO_KEY_HOME);
    t.k.key(ALLEGRO_KEY_UP);
    EXPECT_EQ(t.d()->cursor_pos, 0u) << "from the first line Up goes to the start";
    // A long paragraph wraps as drawn: Down lands on the next visual line of it.
    ka_gui_textarea_set_text(t.k.ctx, t.id, std::string(60, 'x').c_str());
    t.k.key(ALLEGRO_KEY_HOME);
    t.k.key(ALLEGRO_KEY_RIGHT);
    t.k.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t.d()->cursor_pos, 25u);
    EXPECT_EQ(t.k.rec.count("text"), 0) << "cursor moves report nothing";
}

TEST(GuiTextTest, PointerPlacesTheCursorAndDragSelects) {
    Text t(63);
    ka_gui_textarea_set_text(t.k.ctx, t.id, "hello world");
    ka_gui_set_focus(t.k.ctx, -1);
    t.k.press(14 + 8 * 2 + 3, 20); // inside the third character, nearer its left edge
    EXPECT_EQ(ka_gui_get_focus(t.k.ctx), t.id);
    EXPECT_EQ(t.d()->cursor_pos, 2u);
    t.k.move(14 + 8 * 5 - 1, 20);
    t.k.release(14 + 8 * 5 - 1, 20);
    EXPECT_EQ(t.selected(), "llo");
    EXPECT_EQ(t.d()->cursor_pos, 5u);
    t.k.click(300, 20); // past the end of the area's text but inside nothing: focus goes
    EXPECT_EQ(ka_gui_get_focus(t.k.ctx), -1);
    t.k.click(205, 20);
    EXPECT_EQ(t.d()->cursor_pos, t.text().size()) << "right of the text: the end";
}

TEST(GuiTextTest, WheelScrollsAMultiLineArea) {
    Text t(4095, 1);
    std::string lines;
    for (int i = 0; i < 40; i++) lines += "line\n";
    ka_gui_textarea_set_text(t.k.ctx, t.id, lines.c_str());
    t.k.feed(gui_ev_move(50, 50, -2));
    EXPECT_EQ(t.d()->scroll_y, 40);
    EXPECT_EQ(t.d()->scroll_from_wheel, 1);
    t.k.feed(gui_ev_move(50, 50, 5));
    EXPECT_EQ(t.d()->scroll_y, 0);
    t.k.feed(gui_ev_move(50, 50, -1000));
    EXPECT_EQ(t.d()->scroll_y, 41 * 8 - 92) << "kept within the content";
}

TEST(GuiTextTest, TenThousandCharactersStopAtTheLimitAndStayWholeCharacters) {
    Text t(0); // 0: the default limit of 4095 bytes
    for (int i = 0; i < 10000; i++) t.k.feed(gui_ev_char(0, i % 3 == 0 ? 0x20AC : 'a'));
    std::string s = t.text();
    EXPECT_LE(s.size(), 4095u);
    EXPECT_GE(s.size(), 4093u);
    EXPECT_EQ(t.d()->text_len, s.size());
    // Every euro sign is whole: the text is the pattern cut at a character boundary.
    std::string expect;
    for (int i = 0; expect.size() < s.size(); i++) expect += i % 3 == 0 ? "€" : "a";
    EXPECT_EQ(s, expect.substr(0, s.size()));
    t.k.key(ALLEGRO_KEY_A, ALLEGRO_KEYMOD_CTRL);
    t.k.key(ALLEGRO_KEY_DELETE);
    EXPECT_EQ(t.text(), "");
}

} // namespace
