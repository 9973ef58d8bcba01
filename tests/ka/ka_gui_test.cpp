// tests/ka/ka_gui_test.cpp: the toolkit's records without input or display: ids, z-order,
// focus, rectangles, setters and getters on wrong ids and types, text limits, destroy hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <allegro5/allegro_primitives.h>

#include "support/ka_gui.hpp"
#include "support/ka_gui_internal.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(al_init());
        al_init_font_addon();
        al_init_primitives_addon();
    }
    void SetUp() override {
        font = al_create_builtin_font();
        ASSERT_NE(font, nullptr);
        ctx = ka_gui_new_ctx(font);
        ASSERT_NE(ctx, nullptr);
        win = ka_gui_add_window(ctx, "screen", 0, 0, 480, 800);
    }
    void TearDown() override {
        if (ctx) ka_gui_destroy_ctx(&ctx);
        al_destroy_font(font);
    }
    std::vector<int> order() const {
        std::vector<int> ids;
        for (size_t i = 0; i < ctx->nb_windows; i++) ids.push_back(ctx->windows[i]->id);
        return ids;
    }
    ALLEGRO_FONT *font = nullptr;
    KA_GUI_CTX *ctx = nullptr;
    int win = -1;
};

TEST_F(GuiTest, NewContextNeedsAFontAndStartsFromDefaults) {
    EXPECT_EQ(ka_gui_new_ctx(nullptr), nullptr);
    EXPECT_EQ(ctx->focused_widget_id, -1);
    EXPECT_EQ(ctx->open_combobox_id, -1);
    EXPECT_EQ(ctx->style.combobox_max_visible, 6);
    EXPECT_EQ(ctx->style.shape_mode, -1);
    unsigned char r, g, b, a;
    al_unmap_rgba(ctx->default_theme.bg_normal, &r, &g, &b, &a);
    EXPECT_EQ(std::vector<int>({r, g, b, a}), std::vector<int>({50, 50, 60, 230}));
    al_unmap_rgba(ctx->default_theme.border_active, &r, &g, &b, &a);
    EXPECT_EQ(std::vector<int>({r, g, b, a}), std::vector<int>({200, 200, 220, 255}));
    EXPECT_EQ(ka_gui_needs_redraw(nullptr), 1);
}

TEST_F(GuiTest, IdsCountFromOneAndContinueAcrossWindows) {
    EXPECT_EQ(win, 1);
    EXPECT_EQ(ka_gui_add_label(ctx, win, "a", 0, 0, 10, 10, 0), 1);
    EXPECT_EQ(ka_gui_add_button(ctx, win, "b", 0, 0, 10, 10, 1, nullptr, nullptr), 2);
    int second = ka_gui_add_window(ctx, "popup", 0, 0, 100, 100);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(ka_gui_add_checkbox(ctx, second, "c", 0, 0, 10, 10, 0, nullptr, nullptr), 3);
    // A failed add takes no id.
    EXPECT_EQ(ka_gui_add_slider(ctx, 77, 0, 0, 10, 10, 0, 1, 0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(ka_gui_add_custom(ctx, second, 0, 0, 10, 10, nullptr, nullptr), 4);
    EXPECT_EQ(ka_gui_get_widget(ctx, 3)->window_id, second);

    KA_GUI_CTX *fresh = ka_gui_new_ctx(font);
    int w2 = ka_gui_add_window(fresh, "", 0, 0, 10, 10);
    EXPECT_EQ(w2, 1);
    EXPECT_EQ(ka_gui_add_label(fresh, w2, "x", 0, 0, 1, 1, 0), 1);
    ka_gui_destroy_ctx(&fresh);
    EXPECT_EQ(fresh, nullptr);
}

TEST_F(GuiTest, PopupsRaisedLastComeFirstAndNormalWindowsStayBehindThem) {
    int p1 = ka_gui_add_window(ctx, "p1", 0, 0, 10, 10);
    int p2 = ka_gui_add_window(ctx, "p2", 0, 0, 10, 10);
    ka_gui_window_set_zorder(ctx, p1, KA_GUI_ZORDER_POPUP, 0);
    ka_gui_window_set_zorder(ctx, p2, KA_GUI_ZORDER_POPUP, 0);
    EXPECT_EQ(order(), std::vector<int>({win, p2, p1}));
    ka_gui_raise_window(ctx, p2);
    EXPECT_EQ(order(), std::vector<int>({win, p1, p2}));
    ka_gui_raise_window(ctx, p1);
    EXPECT_EQ(order(), std::vector<int>({win, p2, p1}));
    int n2 = ka_gui_add_window(ctx, "n2", 0, 0, 10, 10);
    ka_gui_raise_window(ctx, win);
    EXPECT_EQ(order(), std::vector<int>({n2, win, p2, p1}));
}

TEST_F(GuiTest, GroupsOrderBehindFixedNormalOnTopPopup) {
    int top = ka_gui_add_window(ctx, "top", 0, 0, 10, 10);
    int f5 = ka_gui_add_window(ctx, "f5", 0, 0, 10, 10);
    int f1 = ka_gui_add_window(ctx, "f1", 0, 0, 10, 10);
    int behind = ka_gui_add_window(ctx, "behind", 0, 0, 10, 10);
    ka_gui_window_set_zorder(ctx, top, KA_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    ka_gui_window_set_zorder(ctx, f5, KA_GUI_ZORDER_FIXED, 5);
    ka_gui_window_set_zorder(ctx, f1, KA_GUI_ZORDER_FIXED, 1);
    ka_gui_window_set_zorder(ctx, behind, KA_GUI_ZORDER_ALWAYS_BEHIND, 0);
    EXPECT_EQ(order(), std::vector<int>({behind, f1, f5, win, top}));
    // Fixed, behind and on-top windows do not move when raised.
    ka_gui_raise_window(ctx, f1);
    ka_gui_raise_window(ctx, behind);
    EXPECT_EQ(order(), std::vector<int>({behind, f1, f5, win, top}));

    LogCapture log(LOG_ERR);
    ka_gui_window_set_zorder(ctx, f1, 9, 0);
    EXPECT_TRUE(log.contains("unknown z_mode 9 for window"));
    EXPECT_EQ(ka_gui_get_window(ctx, f1)->z_order, KA_GUI_ZORDER_NORMAL);
    // The sort is stable: f1 keeps its place before win among the normal windows.
    EXPECT_EQ(order(), std::vector<int>({behind, f5, f1, win, top}));
}

TEST_F(GuiTest, ClosingTheWindowWithTheFocusClearsIt) {
    int other = ka_gui_add_window(ctx, "other", 0, 0, 10, 10);
    int ta = ka_gui_add_textarea(ctx, win, 0, 0, 100, 30, 0, 63, nullptr, nullptr);
    int elsewhere = ka_gui_add_textarea(ctx, other, 0, 0, 100, 30, 0, 63, nullptr, nullptr);
    ka_gui_set_focus(ctx, ta);
    EXPECT_EQ(ka_gui_get_focus(ctx), ta);
    EXPECT_TRUE(ka_gui_get_widget(ctx, ta)->state & KA_GUI_STATE_FOCUSED);
    ka_gui_close_window(ctx, other); // not the focused one's window
    EXPECT_EQ(ka_gui_get_focus(ctx), ta);
    ka_gui_close_window(ctx, win);
    EXPECT_EQ(ka_gui_get_focus(ctx), -1);
    EXPECT_FALSE(ka_gui_get_widget(ctx, ta)->state & KA_GUI_STATE_FOCUSED);
    EXPECT_EQ(ka_gui_window_is_open(ctx, win), 0);
    EXPECT_EQ(ka_gui_window_is_open(ctx, 99), 0);

    // Focus in a closed window neither opens nor raises it.
    std::vector<int> before = order();
    ka_gui_set_focus(ctx, elsewhere);
    EXPECT_EQ(ka_gui_get_focus(ctx), elsewhere);
    EXPECT_EQ(ka_gui_window_is_open(ctx, other), 0);
    EXPECT_EQ(order(), before);

    LogCapture log(LOG_ERR);
    ka_gui_set_focus(ctx, 4242);
    EXPECT_TRUE(log.contains("ka_gui_set_focus: widget 4242 not found"));
    EXPECT_EQ(ka_gui_get_focus(ctx), -1);
}

TEST_F(GuiTest, FocusRaisesAnOpenWindow) {
    int back = ka_gui_add_window(ctx, "back", 0, 0, 10, 10);
    int front = ka_gui_add_window(ctx, "front", 0, 0, 10, 10);
    int cb = ka_gui_add_checkbox(ctx, back, "c", 0, 0, 10, 10, 0, nullptr, nullptr);
    ka_gui_set_focus(ctx, cb);
    EXPECT_EQ(order(), std::vector<int>({win, front, back}));
}

TEST_F(GuiTest, RedrawIsNeededOnlyWhenSomethingChangedOrACursorBlinks) {
    ALLEGRO_BITMAP *target = al_create_bitmap(64, 64);
    ASSERT_NE(target, nullptr);
    al_set_target_bitmap(target);
    ka_gui_set_display_size(ctx, 64, 64);
    int ta = ka_gui_add_textarea(ctx, win, 0, 0, 40, 20, 0, 7, nullptr, nullptr);
    int b = ka_gui_add_button(ctx, win, "b", 0, 30, 40, 20, 1, nullptr, nullptr);
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 1);
    ka_gui_draw(ctx);
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 0);
    // Opening, closing, raising and plain setters leave the next frame to the caller.
    ka_gui_close_window(ctx, win);
    ka_gui_open_window(ctx, win);
    ka_gui_button_set_label(ctx, b, "c");
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 0);
    ka_gui_widget_set_rect(ctx, b, 0, 30, 50, 20);
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 1);
    ka_gui_draw(ctx);
    ka_gui_set_focus(ctx, ta);
    ka_gui_draw(ctx);
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 1); // blinking cursor
    ka_gui_set_focus(ctx, b);
    ka_gui_draw(ctx);
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 0);
    ctx->anim_until = al_get_time() + 60;
    EXPECT_EQ(ka_gui_needs_redraw(ctx), 1);
    al_set_target_bitmap(nullptr);
    al_destroy_bitmap(target);
}

TEST_F(GuiTest, RectAxesScaleWidgetsOnFlaggedAxesOnly) {
    int w = ka_gui_add_window(ctx, "w", 0, 0, 200, 100);
    int id = ka_gui_add_button(ctx, w, "b", 20, 10, 100, 50, 1, nullptr, nullptr);
    KA_GUI_WIDGET *b = ka_gui_get_widget(ctx, id);
    ka_gui_window_set_rect_axes(ctx, w, 5, 6, 400, 200, 1, 0);
    EXPECT_FLOAT_EQ(b->x, 40);
    EXPECT_FLOAT_EQ(b->w, 200);
    EXPECT_FLOAT_EQ(b->y, 10); // unscaled axis keeps pixels...
    EXPECT_FLOAT_EQ(b->h, 50);
    ka_gui_window_set_rect_axes(ctx, w, 5, 6, 400, 100, 0, 1);
    // ...and its fractions were taken against 200, so halving the height halves the widget.
    EXPECT_FLOAT_EQ(b->y, 5);
    EXPECT_FLOAT_EQ(b->h, 25);
    EXPECT_FLOAT_EQ(b->x, 40);
    KA_GUI_WINDOW *rec = ka_gui_get_window(ctx, w);
    EXPECT_FLOAT_EQ(rec->x, 5);
    ka_gui_window_set_rect_axes(ctx, w, 0, 0, 0, -3, 0, 0);
    EXPECT_FLOAT_EQ(rec->w, 1);
    EXPECT_FLOAT_EQ(rec->h, 1);

    ka_gui_widget_set_rect(ctx, id, 1, 2, -5, -6);
    EXPECT_FLOAT_EQ(b->w, 0);
    EXPECT_FLOAT_EQ(b->h, 0);
}

TEST_F(GuiTest, FramelessContentStartsAtTheWindowTop) {
    int w = ka_gui_add_window(ctx, "w", 10, 100, 200, 100);
    int id = ka_gui_add_label(ctx, w, "x", 0, 0, 10, 10, 0);
    KA_GUI_WINDOW *rec = ka_gui_get_window(ctx, w);
    float ax, ay;
    _gui_widget_origin(rec, ka_gui_get_widget(ctx, id), &ax, &ay);
    EXPECT_FLOAT_EQ(ay, 100 + ctx->style.titlebar_h);
    ka_gui_window_set_flags(ctx, w, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    _gui_widget_origin(rec, ka_gui_get_widget(ctx, id), &ax, &ay);
    EXPECT_FLOAT_EQ(ay, 100);
    EXPECT_FLOAT_EQ(ax, 10);
}

TEST_F(GuiTest, WrongIdsAndWrongTypesAreIgnored) {
    int label = ka_gui_add_label(ctx, win, "text", 0, 0, 100, 20, 0);
    int button = ka_gui_add_button(ctx, win, "ok", 0, 0, 100, 20, 1, nullptr, nullptr);
    int slider = ka_gui_add_slider(ctx, win, 0, 0, 100, 20, 0, 10, 3, 0, nullptr, nullptr);
    for (int id : {-1, 0, 999}) {
        EXPECT_EQ(ka_gui_get_widget(ctx, id), nullptr);
        EXPECT_EQ(ka_gui_get_window(ctx, id), nullptr);
        EXPECT_STREQ(ka_gui_textarea_get_text(ctx, id), "");
        EXPECT_EQ(ka_gui_combobox_get_selected(ctx, id), -1);
        EXPECT_EQ(ka_gui_combobox_add_item(ctx, id, "x"), -1);
        ka_gui_widget_set_rect(ctx, id, 1, 1, 1, 1);
        ka_gui_window_set_rect_axes(ctx, id, 1, 1, 1, 1, 1, 1);
        ka_gui_open_window(ctx, id);
        ka_gui_close_window(ctx, id);
        ka_gui_raise_window(ctx, id);
        ka_gui_window_set_flags(ctx, id, 1);
        ka_gui_window_set_zorder(ctx, id, 1, 1);
        EXPECT_EQ(ka_gui_add_button(ctx, id, "x", 0, 0, 1, 1, 1, nullptr, nullptr), -1);
    }
    ka_gui_button_set_label(ctx, label, "changed");
    ka_gui_label_set_text(ctx, button, "changed");
    ka_gui_slider_set_step(ctx, label, 5);
    ka_gui_textarea_set_text(ctx, slider, "changed");
    ka_gui_combobox_set_selected(ctx, slider, 0);
    ka_gui_custom_set_mouse(ctx, label, nullptr, nullptr);
    EXPECT_STREQ(((KA_GUI_LABEL_DATA *)ka_gui_get_widget(ctx, label)->data)->text, "text");
    EXPECT_STREQ(((KA_GUI_BUTTON_DATA *)ka_gui_get_widget(ctx, button)->data)->label, "ok");
    EXPECT_DOUBLE_EQ(((KA_GUI_SLIDER_DATA *)ka_gui_get_widget(ctx, slider)->data)->value, 3);
    EXPECT_STREQ(ka_gui_textarea_get_text(ctx, slider), "");
    EXPECT_EQ(ka_gui_combobox_get_selected(ctx, slider), -1);
    float nw = 5, nh = 5;
    EXPECT_EQ(ka_gui_label_fits(ctx, button, &nw, &nh), 1);
    EXPECT_EQ(nw, 0);
    EXPECT_EQ(nh, 0);
    EXPECT_EQ(ka_gui_label_fits(nullptr, label, nullptr, nullptr), 1);

    LogCapture log(LOG_WARNING);
    ka_gui_textarea_set_placeholder(ctx, label, "hint");
    EXPECT_TRUE(log.contains("ka_gui_textarea_set_placeholder: widget 1 is not a textarea"));
    // Null contexts are refused without a crash.
    EXPECT_EQ(ka_gui_add_window(nullptr, "x", 0, 0, 1, 1), -1);
    EXPECT_EQ(ka_gui_get_focus(nullptr), -1);
    EXPECT_STREQ(ka_gui_textarea_get_text(nullptr, 1), "");
    ALLEGRO_EVENT ev{};
    EXPECT_EQ(ka_gui_process_event(nullptr, ev), 0);
    EXPECT_EQ(ka_gui_process_event(ctx, ev), 0);
}

TEST_F(GuiTest, TextAreaLimitsAreBytesCutOnCharacterBoundaries) {
    int big = ka_gui_add_textarea(ctx, win, 0, 0, 100, 30, 1, 0, nullptr, nullptr);
    std::string long_text(5000, 'x');
    ka_gui_textarea_set_text(ctx, big, long_text.c_str());
    EXPECT_EQ(strlen(ka_gui_textarea_get_text(ctx, big)), 4095u);

    int ta = ka_gui_add_textarea(ctx, win, 0, 0, 100, 30, 0, 511, nullptr, nullptr);
    KA_GUI_TEXTAREA_DATA *d = (KA_GUI_TEXTAREA_DATA *)ka_gui_get_widget(ctx, ta)->data;
    ka_gui_textarea_set_text(ctx, ta, std::string(600, 'a').c_str());
    EXPECT_EQ(d->text_len, 511u);
    EXPECT_EQ(d->cursor_pos, 511u);
    EXPECT_EQ(std::string(ka_gui_textarea_get_text(ctx, ta)), std::string(511, 'a'));

    int small = ka_gui_add_textarea(ctx, win, 0, 0, 100, 30, 0, 7, nullptr, nullptr);
    // "ab" + e-acute (2 bytes) + euro sign (3 bytes) is 7 bytes; one more euro cannot half fit.
    ka_gui_textarea_set_text(ctx, small, "ab\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC");
    EXPECT_STREQ(ka_gui_textarea_get_text(ctx, small), "ab\xC3\xA9\xE2\x82\xAC");
    ka_gui_textarea_set_text(ctx, small, "abcdef\xC3\xA9");
    EXPECT_STREQ(ka_gui_textarea_get_text(ctx, small), "abcdef");
    ka_gui_textarea_set_text(ctx, small, "a\r\nb");
    EXPECT_STREQ(ka_gui_textarea_get_text(ctx, small), "a\nb");
    ka_gui_textarea_set_text(ctx, small, nullptr);
    EXPECT_STREQ(ka_gui_textarea_get_text(ctx, small), "");

    // A selection left over from a longer text never points past the new end.
    KA_GUI_TEXTAREA_DATA *sd = (KA_GUI_TEXTAREA_DATA *)ka_gui_get_widget(ctx, small)->data;
    ka_gui_textarea_set_text(ctx, small, "abcdefg");
    sd->sel_start = 2;
    sd->sel_end = 7;
    ka_gui_textarea_set_text(ctx, small, "xyz");
    EXPECT_EQ(sd->sel_start, 2u);
    EXPECT_EQ(sd->sel_end, 3u);

    ka_gui_textarea_set_placeholder(ctx, small, "hint");
    EXPECT_STREQ(sd->placeholder, "hint");
    ka_gui_textarea_set_placeholder(ctx, small, "");
    EXPECT_EQ(sd->placeholder, nullptr);
}

TEST_F(GuiTest, LabelsDropCarriageReturnsAndKeep4095Bytes) {
    int l = ka_gui_add_label(ctx, win, "one\r\ntwo", 0, 0, 100, 20, 0);
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)ka_gui_get_widget(ctx, l)->data;
    EXPECT_STREQ(d->text, "one\ntwo");
    std::string euros;
    for (int i = 0; i < 1400; i++) euros += "\xE2\x82\xAC"; // 4200 bytes
    ka_gui_label_set_text(ctx, l, euros.c_str());
    EXPECT_EQ(strlen(d->text), 4095u);
    ka_gui_label_set_text(ctx, l, nullptr);
    EXPECT_STREQ(d->text, "");
}

TEST_F(GuiTest, LabelFitsMeasuresOneLineSeveralLinesAndWrappedText) {
    float cw = (float)al_get_text_width(font, "x"), lh = (float)al_get_font_line_height(font);
    int empty = ka_gui_add_label(ctx, win, "", 0, 0, 10, 10, 0);
    float nw = 1, nh = 1;
    EXPECT_EQ(ka_gui_label_fits(ctx, empty, &nw, &nh), 1);
    EXPECT_EQ(nw, 0);
    EXPECT_EQ(nh, 0);

    int one = ka_gui_add_label(ctx, win, "xxxxxxxxxx", 0, 0, 10 * cw + 8, lh, 0);
    EXPECT_EQ(ka_gui_label_fits(ctx, one, &nw, &nh), 1);
    EXPECT_FLOAT_EQ(nw, 10 * cw + 8);
    EXPECT_FLOAT_EQ(nh, lh);
    ka_gui_widget_set_rect(ctx, one, 0, 0, 10 * cw + 7, lh);
    EXPECT_EQ(ka_gui_label_fits(ctx, one, nullptr, nullptr), 0);

    int lines = ka_gui_add_label(ctx, win, "xx\nxxxx\nx", 0, 0, 100, 2 * lh, 1);
    EXPECT_EQ(ka_gui_label_fits(ctx, lines, &nw, &nh), 0);
    EXPECT_FLOAT_EQ(nw, 4 * cw + 8);
    EXPECT_FLOAT_EQ(nh, 3 * lh);

    // Wrapped to 5 characters a line: "xxx xx" / "xxx" -> 2 lines plus padding.
    int wrapped = ka_gui_add_label(ctx, win, "xxx xx xxx", 0, 0, 6 * cw + 8, 100, 3);
    EXPECT_EQ(ka_gui_label_fits(ctx, wrapped, &nw, &nh), 1);
    EXPECT_FLOAT_EQ(nw, 6 * cw + 8);
    EXPECT_FLOAT_EQ(nh, 2 * lh + 4);
}

TEST_F(GuiTest, WrappingBreaksAtSpacesAndKeepsNewlines) {
    float cw = (float)al_get_text_width(font, "x");
    std::vector<KA_GUI_LINE> lines;
    const char *text = "aaa bbb ccc\n\ndddddddd";
    _gui_wrap(font, text, strlen(text), 7 * cw, 1, &lines);
    std::vector<std::string> got;
    for (const KA_GUI_LINE &l : lines) got.emplace_back(text + l.start, l.end - l.start);
    EXPECT_EQ(got, std::vector<std::string>({"aaa bbb", "ccc", "", "ddddddd", "d"}));
    EXPECT_EQ(lines[0].para_end, 0);
    EXPECT_EQ(lines[1].para_end, 1);
    EXPECT_EQ(lines[0].next, 8u);
    // Without word breaking the long word stays whole on its own line.
    _gui_wrap(font, text, strlen(text), 7 * cw, 0, &lines);
    EXPECT_EQ(lines.back().end - lines.back().start, 8u);
    _gui_wrap(font, "", 0, 10, 1, &lines);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(GuiTest, TextAreaPositionsUnderThePointerFollowTheDrawnLayout) {
    ka_gui_window_set_flags(ctx, win, KA_GUI_WIN_FRAMELESS);
    KA_GUI_WINDOW *w = ka_gui_get_window(ctx, win);
    float cw = (float)al_get_text_width(font, "a"), lh = (float)al_get_font_line_height(font);
    float pad = ctx->style.textarea_padding;
    int one = ka_gui_add_textarea(ctx, win, 10, 10, 200, 30, 0, 63, nullptr, nullptr);
    ka_gui_textarea_set_text(ctx, one,
                             "ab\xC3\xA9"
                             "d");
    KA_GUI_WIDGET *ow = ka_gui_get_widget(ctx, one);
    float y = 25;
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, ow, 0, y), 0u);
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, ow, 10 + pad + 2 * cw + 1, y), 2u);
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, ow, 500, y), 5u);
    for (float x = 10; x < 60; x += 1) {
        size_t pos = _gui_textarea_pos_at(ctx, w, ow, x, y);
        EXPECT_NE(pos, 3u) << "inside the two-byte character at x " << x;
    }
    // A horizontal scroll shifts what lies under the pointer.
    ((KA_GUI_TEXTAREA_DATA *)ow->data)->scroll_x = 2 * cw;
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, ow, 10 + pad + 1, y), 2u);

    int multi = ka_gui_add_textarea(ctx, win, 10, 50, 200, 100, 1, 63, nullptr, nullptr);
    ka_gui_textarea_set_text(ctx, multi, "line one\nline two");
    KA_GUI_WIDGET *mw = ka_gui_get_widget(ctx, multi);
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, mw, 10 + pad, 50 + pad + lh + 1), 9u);
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, mw, 300, 50 + pad + 1), 8u);
    EXPECT_EQ(_gui_textarea_pos_at(ctx, w, mw, 300, 500), 17u);
}

TEST_F(GuiTest, SliderValuesAreClampedAndSnapped) {
    int s = ka_gui_add_slider(ctx, win, 0, 0, 100, 20, 10, 100, 250, 0, nullptr, nullptr);
    KA_GUI_SLIDER_DATA *d = (KA_GUI_SLIDER_DATA *)ka_gui_get_widget(ctx, s)->data;
    EXPECT_DOUBLE_EQ(d->value, 100);
    ka_gui_slider_set_step(ctx, s, 20);
    EXPECT_DOUBLE_EQ(d->value, 100);
    int t = ka_gui_add_slider(ctx, win, 0, 0, 100, 20, 10, 100, 45, 0, nullptr, nullptr);
    ka_gui_slider_set_step(ctx, t, 20);
    EXPECT_DOUBLE_EQ(((KA_GUI_SLIDER_DATA *)ka_gui_get_widget(ctx, t)->data)->value, 50);
    int p = ka_gui_add_slider(ctx, win, 0, 0, 100, 20, 500, 900, 42, 1, nullptr, nullptr);
    KA_GUI_SLIDER_DATA *pd = (KA_GUI_SLIDER_DATA *)ka_gui_get_widget(ctx, p)->data;
    EXPECT_DOUBLE_EQ(pd->min_val, 0);
    EXPECT_DOUBLE_EQ(pd->max_val, 100);
    EXPECT_DOUBLE_EQ(pd->value, 42);
    EXPECT_EQ(pd->value_visible, 1);
    ka_gui_slider_set_value_visible(ctx, p, 5);
    EXPECT_EQ(pd->value_visible, 1);
    ka_gui_slider_set_value_visible(ctx, p, 0);
    EXPECT_EQ(pd->value_visible, 0);
}

TEST_F(GuiTest, SliderFromPointerReportsEachChangeOnce) {
    static std::vector<double> seen;
    seen.clear();
    auto cb = [](int, double v, void *) { seen.push_back(v); };
    // Width 126, height 30: handle radius 13, usable length 100 from x 13.
    int s = ka_gui_add_slider(ctx, win, 0, 0, 126, 30, 0, 100, 0, 0, cb, nullptr);
    ka_gui_slider_set_step(ctx, s, 5);
    KA_GUI_WINDOW *w = ka_gui_get_window(ctx, win);
    KA_GUI_WIDGET *sw = ka_gui_get_widget(ctx, s);
    EXPECT_EQ(_gui_slider_from_pointer(ctx, w, sw, 13 + 42, 0), 1);
    EXPECT_EQ(_gui_slider_from_pointer(ctx, w, sw, 13 + 41, 0), 0); // still snaps to 40
    EXPECT_EQ(_gui_slider_from_pointer(ctx, w, sw, 500, 0), 1);
    EXPECT_EQ(seen, std::vector<double>({40, 100}));
}

TEST_F(GuiTest, ButtonsCheckboxesAndComboboxesKeepTheirState) {
    int t = ka_gui_add_toggle_button(ctx, win, "t", 0, 0, 10, 10, 1, 7, nullptr, nullptr);
    KA_GUI_BUTTON_DATA *td = (KA_GUI_BUTTON_DATA *)ka_gui_get_widget(ctx, t)->data;
    EXPECT_EQ(td->toggled, 1);
    EXPECT_EQ(td->toggle_mode, 1);
    std::string long_label(300, 'L');
    int b = ka_gui_add_button(ctx, win, long_label.c_str(), 0, 0, 10, 10, 1, nullptr, nullptr);
    KA_GUI_BUTTON_DATA *bd = (KA_GUI_BUTTON_DATA *)ka_gui_get_widget(ctx, b)->data;
    EXPECT_EQ(strlen(bd->label), 127u);
    ka_gui_button_set_label(ctx, b, nullptr);
    EXPECT_EQ(strlen(bd->label), 127u);
    ka_gui_button_set_label(ctx, b, "Go");
    EXPECT_STREQ(bd->label, "Go");

    int c = ka_gui_add_checkbox(ctx, win, "c", 0, 0, 10, 10, 3, nullptr, nullptr);
    EXPECT_EQ(((KA_GUI_CHECKBOX_DATA *)ka_gui_get_widget(ctx, c)->data)->checked, 1);

    int cb = ka_gui_add_combobox(ctx, win, 0, 0, 100, 30, nullptr, nullptr);
    EXPECT_EQ(ka_gui_combobox_get_selected(ctx, cb), -1);
    for (int i = 0; i < 20; i++) EXPECT_EQ(ka_gui_combobox_add_item(ctx, cb, "item"), i);
    ka_gui_combobox_set_selected(ctx, cb, 2);
    ka_gui_combobox_set_selected(ctx, cb, 20);
    ka_gui_combobox_set_selected(ctx, cb, -2);
    EXPECT_EQ(ka_gui_combobox_get_selected(ctx, cb), 2);
    ka_gui_combobox_set_selected(ctx, cb, -1);
    EXPECT_EQ(ka_gui_combobox_get_selected(ctx, cb), -1);
}

TEST_F(GuiTest, CustomDestroyHooksRunOnceWithTheirUserData) {
    static std::vector<int> destroyed;
    destroyed.clear();
    static int a = 1, b = 2;
    auto hook = [](void *user) { destroyed.push_back(*(int *)user); };
    int other = ka_gui_add_window(ctx, "other", 0, 0, 10, 10);
    int ca = ka_gui_add_custom(ctx, win, 0, 0, 10, 10, nullptr, &a);
    int cb = ka_gui_add_custom(ctx, other, 0, 0, 10, 10, nullptr, &b);
    ka_gui_add_custom(ctx, other, 0, 0, 10, 10, nullptr, nullptr); // no hook
    ka_gui_custom_set_destroy(ctx, ca, hook);
    ka_gui_custom_set_destroy(ctx, cb, hook);
    ka_gui_custom_set_destroy(ctx, ka_gui_add_label(ctx, win, "", 0, 0, 1, 1, 0), hook);
    ka_gui_destroy_ctx(&ctx);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(destroyed, std::vector<int>({1, 2}));
}

} // namespace
