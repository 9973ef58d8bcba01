// tests/ka/ka_gui_draw_test.cpp: one window holding a widget of each type drawn into a real
// display, checked at known pixels: body, border, button faces by state, the checkbox mark, the
// slider's knob, per-window clipping and truncated labels.
// ctest-label: display
// ctest-label: threaded
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>

#include "support/ka_clipboard.hpp"
#include "support/ka_gui.hpp"
#include "support/ka_gui_internal.hpp"
#include "support/test_display.hpp"
#include "support/test_env.hpp"

namespace {

struct RGB {
    float r, g, b;
};

// Allegro's default blender takes colours as premultiplied: out = src + dst * (1 - src alpha).
RGB blend(ALLEGRO_COLOR src, RGB dst) {
    return {src.r + dst.r * (1 - src.a), src.g + dst.g * (1 - src.a), src.b + dst.b * (1 - src.a)};
}
RGB rgb(ALLEGRO_COLOR c) {
    return {c.r, c.g, c.b};
}

const RGB kClear = {16 / 255.0f, 18 / 255.0f, 24 / 255.0f};

void custom_fill(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *, void *user) {
    // Deliberately paints far beyond the widget: the window must clip it.
    float extra = user ? 300 : 0;
    al_draw_filled_rectangle(x, y, x + w->w + extra, y + w->h + extra, al_map_rgb(200, 30, 30));
}

class GuiDrawTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display = test_display_open();
        ASSERT_NE(display, nullptr);
        font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
        if (!font) font = al_create_builtin_font();
    }
    static void TearDownTestSuite() {
        if (font) al_destroy_font(font);
        if (display) al_destroy_display(display);
    }
    void SetUp() override {
        ctx = ka_gui_new_ctx(font);
        ASSERT_NE(ctx, nullptr);
        ka_gui_set_display(ctx, display);
        ka_gui_set_display_size(ctx, 480, 800);
        win = ka_gui_add_window(ctx, "Test", 0, 0, 480, 800);
        ka_gui_window_set_flags(ctx, win, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    }
    void TearDown() override {
        ka_gui_destroy_ctx(&ctx);
        if (locked) al_unlock_bitmap(al_get_backbuffer(display));
        // KA_GUI_SHOT_MS keeps the frame on screen for a while, for a look with `import`.
        if (const char *hold = getenv("KA_GUI_SHOT_MS")) {
            al_flip_display();
            al_rest(atoi(hold) / 1000.0);
        }
    }
    void draw() {
        al_set_target_backbuffer(display);
        al_clear_to_color(al_map_rgb(16, 18, 24));
        ka_gui_draw(ctx);
        locked = al_lock_bitmap(al_get_backbuffer(display), ALLEGRO_PIXEL_FORMAT_ANY,
                                ALLEGRO_LOCK_READONLY);
    }
    RGB at(int x, int y) {
        ALLEGRO_COLOR c = al_get_pixel(al_get_backbuffer(display), x, y);
        return {c.r, c.g, c.b};
    }
    static bool near(RGB a, RGB b) {
        float tol = 3 / 255.0f;
        return std::fabs(a.r - b.r) <= tol && std::fabs(a.g - b.g) <= tol &&
               std::fabs(a.b - b.b) <= tol;
    }
    static std::string show(RGB c) {
        return std::to_string((int)std::lround(c.r * 255)) + "," +
               std::to_string((int)std::lround(c.g * 255)) + "," +
               std::to_string((int)std::lround(c.b * 255));
    }
    RGB body() const { return blend(ctx->default_theme.bg_normal, kClear); }

    static ALLEGRO_DISPLAY *display;
    static ALLEGRO_FONT *font;
    KA_GUI_CTX *ctx = nullptr;
    int win = -1;
    ALLEGRO_LOCKED_REGION *locked = nullptr;
};
ALLEGRO_DISPLAY *GuiDrawTest::display = nullptr;
ALLEGRO_FONT *GuiDrawTest::font = nullptr;

#define EXPECT_PIXEL(x, y, want)                                                                   \
    EXPECT_TRUE(near(at(x, y), want))                                                              \
        << "pixel (" << (x) << ", " << (y) << ") is " << show(at(x, y)) << ", want " << show(want)

TEST_F(GuiDrawTest, OneWidgetOfEachTypeDrawsAtKnownPixels) {
    const KA_GUI_THEME &t = ctx->default_theme;
    int push = ka_gui_add_button(ctx, win, "Push", 20, 20, 200, 50, 1, nullptr, nullptr);
    int toggle = ka_gui_add_toggle_button(ctx, win, "On", 240, 20, 200, 50, 1, 1, nullptr, nullptr);
    int pressed = ka_gui_add_button(ctx, win, "Held", 20, 80, 200, 50, 1, nullptr, nullptr);
    ka_gui_get_widget(ctx, pressed)->state |= KA_GUI_STATE_PRESSED;
    ka_gui_add_checkbox(ctx, win, "Checked", 20, 150, 200, 30, 1, nullptr, nullptr);
    ka_gui_add_checkbox(ctx, win, "Unchecked", 240, 150, 200, 30, 0, nullptr, nullptr);
    int slider = ka_gui_add_slider(ctx, win, 20, 200, 400, 30, 0, 100, 25, 0, nullptr, nullptr);
    ka_gui_slider_set_value_visible(ctx, slider, 0);
    int combo = ka_gui_add_combobox(ctx, win, 20, 250, 200, 36, nullptr, nullptr);
    ka_gui_combobox_add_item(ctx, combo, "Second item");
    ka_gui_combobox_set_selected(ctx, combo, 0);
    ka_gui_add_label(ctx, win, "A label", 20, 300, 200, 30, 0);
    int hint = ka_gui_add_textarea(ctx, win, 20, 340, 200, 36, 0, 63, nullptr, nullptr);
    ka_gui_textarea_set_placeholder(ctx, hint, "Type here");
    ka_gui_add_textarea(ctx, win, 240, 340, 200, 36, 0, 63, nullptr, nullptr);
    int multi = ka_gui_add_textarea(ctx, win, 20, 390, 200, 80, 1, 511, nullptr, nullptr);
    ka_gui_textarea_set_text(ctx, multi, "several words that wrap over more than one line");
    ka_gui_add_custom(ctx, win, 20, 490, 60, 40, custom_fill, nullptr);
    ka_gui_add_button(ctx, win, "A label far too long for this little button", 20, 550, 100, 40, 1,
                      nullptr, nullptr);
    draw();
    ASSERT_NE(locked, nullptr);

    RGB window = body();
    EXPECT_PIXEL(470, 700, window);
    EXPECT_PIXEL(0, 700, rgb(t.border_normal));
    EXPECT_PIXEL(240, 0, rgb(t.border_normal));
    EXPECT_PIXEL(479, 700, rgb(t.border_normal));

    EXPECT_PIXEL(30, 45, blend(t.bg_normal, window));  // push button face
    EXPECT_PIXEL(20 + 100, 20, rgb(t.border_normal));  // its top border
    EXPECT_PIXEL(250, 45, blend(t.bg_active, window)); // toggled button face
    EXPECT_PIXEL(340, 20, rgb(t.border_active));       // and its border
    EXPECT_PIXEL(30, 105, blend(t.bg_active, window)); // held button face
    EXPECT_PIXEL(20, 20, window);                      // rounded corner left unpainted
    (void)push;
    (void)toggle;

    // Checkbox: box of 20 at (20, 155); the tick's first stroke runs (24, 165) -> (30, 171).
    EXPECT_PIXEL(27, 168, rgb(t.text_active));
    EXPECT_PIXEL(247, 168, blend(t.bg_normal, window)); // unchecked: no mark
    EXPECT_PIXEL(22, 157, blend(t.bg_normal, window));  // inside the box, off the tick

    // Slider 0..100 at 25: radius 13, knob centre x = 20 + 13 + 0.25 * 374 = 126.5, y = 215.
    // Above the track (y 207) only the knob covers the body.
    RGB knob = blend(t.bg_normal, window);
    EXPECT_PIXEL(126, 207, knob);
    EXPECT_PIXEL(100, 207, window);
    EXPECT_PIXEL(152, 207, window);
    EXPECT_PIXEL(220, 207, window); // where the knob of 50 would be
    // The track is filled with the active colour up to the knob, the normal one after it.
    EXPECT_PIXEL(60, 215, blend(t.bg_active, blend(t.bg_normal, window)));
    EXPECT_PIXEL(300, 215, blend(t.bg_normal, window));

    // Combobox: square field with the normal face.
    EXPECT_PIXEL(100, 250, rgb(t.border_normal));
    EXPECT_PIXEL(200, 256, blend(t.bg_normal, window));

    // The placeholder shows up in an empty text area; without one the field stays plain.
    int marked_hint = 0, marked_plain = 0;
    RGB field = blend(t.bg_normal, window);
    for (int y = 346; y < 370; y++) {
        for (int x = 26; x < 120; x++) {
            marked_hint += !near(at(x, y), field);
            marked_plain += !near(at(x + 220, y), field);
        }
    }
    EXPECT_GT(marked_hint, 20);
    EXPECT_EQ(marked_plain, 0);

    EXPECT_PIXEL(40, 510, RGB({200 / 255.0f, 30 / 255.0f, 30 / 255.0f})); // custom drawing

    // The long label is cut: nothing is drawn right of the button.
    int spilled = 0;
    for (int y = 550; y < 590; y++)
        for (int x = 121; x < 200; x++) spilled += !near(at(x, y), window);
    EXPECT_EQ(spilled, 0);
}

TEST_F(GuiDrawTest, EachWindowClipsItsWidgetsAndClosedWindowsAreNotDrawn) {
    int popup = ka_gui_add_window(ctx, "", 300, 600, 100, 100);
    ka_gui_window_set_flags(ctx, popup, KA_GUI_WIN_FIXED_POSITION | KA_GUI_WIN_FRAMELESS);
    ka_gui_window_set_zorder(ctx, popup, KA_GUI_ZORDER_POPUP, 0);
    ka_gui_add_custom(ctx, popup, 10, 10, 20, 20, custom_fill, (void *)1);
    int hidden = ka_gui_add_window(ctx, "", 0, 0, 100, 100);
    ka_gui_add_custom(ctx, hidden, 0, 0, 100, 100, custom_fill, nullptr);
    ka_gui_close_window(ctx, hidden);
    KA_GUI_WINDOW *rec = ka_gui_get_window(ctx, popup);
    rec->theme.bg_normal = al_map_rgb(0, 0, 255);
    draw();
    ASSERT_NE(locked, nullptr);
    RGB red = {200 / 255.0f, 30 / 255.0f, 30 / 255.0f};
    EXPECT_PIXEL(350, 650, red);            // inside the popup, under the oversized drawing
    EXPECT_PIXEL(305, 605, RGB({0, 0, 1})); // the popup's own recoloured body
    EXPECT_PIXEL(420, 650, body());         // right of the popup: clipped away
    EXPECT_PIXEL(350, 720, body());         // below it
    EXPECT_PIXEL(50, 50, body());           // the closed window draws nothing
}

TEST_F(GuiDrawTest, TitledWindowsDrawTheirBarAndContentBelowIt) {
    int titled = ka_gui_add_window(ctx, "Titled", 40, 100, 300, 200);
    ka_gui_add_custom(ctx, titled, 0, 0, 50, 20, custom_fill, nullptr);
    draw();
    ASSERT_NE(locked, nullptr);
    float bar = ctx->style.titlebar_h;
    RGB red = {200 / 255.0f, 30 / 255.0f, 30 / 255.0f};
    EXPECT_PIXEL(45, 100 + (int)bar + 5, red);
    EXPECT_FALSE(near(at(45, 100 + (int)bar - 5), red));
}

TEST_F(GuiDrawTest, WindowsBeyondTheDisplayGetGlobalScrollbars) {
    int tall = ka_gui_add_window(ctx, "", 0, 0, 200, 1600);
    ka_gui_window_set_flags(ctx, tall, KA_GUI_WIN_FRAMELESS);
    ctx->global_scroll_y = 5000; // clamped to the content
    draw();
    ASSERT_NE(locked, nullptr);
    // The vertical bar narrows the view below the full-width window, so a horizontal bar
    // takes room at the bottom as well.
    float gs = ctx->style.global_scrollbar_size;
    EXPECT_FLOAT_EQ(ctx->global_scroll_y, 1600 - (800 - gs));
    // Windows are clipped to the view, so the bar lies over the cleared background.
    RGB track = blend(ctx->style.global_scrollbar_track_color, kClear);
    EXPECT_PIXEL(480 - (int)ctx->style.global_scrollbar_size + 1, 2, track);
}

TEST_F(GuiDrawTest, AnOpenComboboxListShowsSixRowsWithAScrollbarOverEverything) {
    const KA_GUI_THEME &t = ctx->default_theme;
    int combo = ka_gui_add_combobox(ctx, win, 20, 100, 200, 36, nullptr, nullptr);
    for (int i = 0; i < 10; i++) ka_gui_combobox_add_item(ctx, combo, "item");
    ka_gui_combobox_set_selected(ctx, combo, 2);
    // Drawn after every window: a later widget under the list must not show through.
    ka_gui_add_custom(ctx, win, 20, 150, 200, 50, custom_fill, nullptr);
    ((KA_GUI_COMBOBOX_DATA *)ka_gui_get_widget(ctx, combo)->data)->is_open = 1;
    ctx->open_combobox_id = combo; // what a press on it does
    draw();
    ASSERT_NE(locked, nullptr);
    // Rows of 36 from y 136: six of them end at 352.
    RGB panel = blend(t.bg_normal, body());
    EXPECT_PIXEL(100, 136, rgb(t.border_active));
    EXPECT_PIXEL(100, 351, rgb(t.border_active));
    EXPECT_PIXEL(100, 360, body());                   // no seventh row
    EXPECT_PIXEL(30, 226, blend(t.bg_active, panel)); // the selected third row
    RGB red = {200 / 255.0f, 30 / 255.0f, 30 / 255.0f};
    EXPECT_PIXEL(30, 170, blend(t.bg_normal, red)); // over the custom widget
    float sb = std::max(10.0f, ctx->style.scrollbar_size);
    EXPECT_PIXEL(219 - (int)sb / 2, 340, blend(ctx->style.scrollbar_track_color, panel));
}

TEST_F(GuiDrawTest, EmptyComboboxShowsOnlyItsArrowAndTextAreasAreSquare) {
    const KA_GUI_THEME &t = ctx->default_theme;
    ka_gui_add_combobox(ctx, win, 20, 100, 200, 36, nullptr, nullptr);
    ka_gui_add_textarea(ctx, win, 20, 200, 200, 36, 0, 7, nullptr, nullptr);
    draw();
    ASSERT_NE(locked, nullptr);
    RGB field = blend(t.bg_normal, body());
    int marked = 0;
    for (int y = 104; y < 132; y++)
        for (int x = 24; x < 200; x++) marked += !near(at(x, y), field);
    EXPECT_EQ(marked, 0); // no text
    // The arrow's first stroke runs from (204, 115) to (209, 121).
    int arrow = 0;
    for (int x = 204; x < 214; x++) arrow += !near(at(x, 118), field);
    EXPECT_GT(arrow, 0);
    EXPECT_PIXEL(20, 200, rgb(t.border_normal)); // square corner
}

TEST_F(GuiDrawTest, WrappedLabelsJustifyAllButTheLastLineOfAParagraph) {
    // The long word cannot join the first line, which leaves it plenty of room to spread.
    const char *text = "aaa bbb ccc dddddddddddd e\nsecond paragraph";
    ka_gui_add_label(ctx, win, text, 20, 100, 200, 300, KA_GUI_ALIGN_JUSTIFY);
    draw();
    ASSERT_NE(locked, nullptr);
    std::vector<KA_GUI_LINE> lines;
    _gui_wrap(font, text, strlen(text), 200 - 8, 0, &lines);
    auto width = [&](size_t i) {
        return _gui_text_width(font, text + lines[i].start, lines[i].end - lines[i].start);
    };
    size_t last = 0; // the first paragraph's last line
    while (last < lines.size() && !lines[last].para_end) last++;
    ASSERT_GE(last, 1u);
    ASSERT_LT(last, lines.size());
    ASSERT_LT(width(0), 170);
    ASSERT_LT(width(last), 170);
    ASSERT_NE(memchr(text + lines[last].start, ' ', lines[last].end - lines[last].start), nullptr);
    float lh = (float)al_get_font_line_height(font);
    auto rightmost = [&](size_t line) {
        int top = 100 + 2 + (int)(lh * (float)line);
        for (int x = 219; x >= 20; x--)
            for (int y = top; y < top + (int)lh; y++)
                if (!near(at(x, y), body())) return x;
        return 0;
    };
    EXPECT_GE(rightmost(0), 212);                          // stretched to the right padding
    EXPECT_LE(rightmost(last), 24 + (int)width(last) + 2); // a paragraph's last line is not
}

TEST_F(GuiDrawTest, AJustifiedLabelHighlightsTheSelectedWordWhereItIsDrawn) {
    // "a b" is justified over the 92-pixel line: "b" ends at the right padding.
    const char *text = "a b cccccccccccc dd";
    int id = ka_gui_add_label(ctx, win, text, 20, 100, 100, 80, KA_GUI_ALIGN_JUSTIFY);
    KA_GUI_LABEL_DATA *d = (KA_GUI_LABEL_DATA *)ka_gui_get_widget(ctx, id)->data;
    d->sel_start = 2;
    d->sel_end = 3;
    draw();
    ASSERT_NE(locked, nullptr);
    std::vector<KA_GUI_LINE> lines;
    _gui_wrap(font, text, strlen(text), 92, 0, &lines);
    ASSERT_GE(lines.size(), 2u);
    ASSERT_EQ(lines[0].end, 3u) << "the first line is \"a b\"";
    int lh = al_get_font_line_height(font);
    int top = 100 + 2, right = 20 + 4 + 92;
    int b_left = right - (int)_gui_text_width(font, "b", 1);
    RGB marked = blend(ctx->default_theme.selection_color, body());
    auto count = [&](int x0, int x1) {
        int n = 0;
        for (int y = top + 1; y < top + lh - 1; y++)
            for (int x = x0; x < x1; x++) n += near(at(x, y), marked);
        return n;
    };
    int inside = (right - 1 - (b_left + 1)) * (lh - 2);
    EXPECT_GT(count(b_left + 1, right - 1), inside / 2) << "behind the drawn b";
    // Where a plain run of text would have put it, right after "a ".
    int plain = 20 + 4 + (int)_gui_text_width(font, "a ", 2);
    EXPECT_EQ(count(20, b_left - 1), 0) << "plain position starts at " << plain;
}

TEST_F(GuiDrawTest, WithoutTheXServiceTheClipboardFallsBackToAllegros) {
    ka_clipboard_destroy();
    {
        // The service opens its own connection from DISPLAY; Allegro's is already open.
        ScopedEnv no_service("DISPLAY", ":4987");
        EXPECT_EQ(_gui_clipboard_set(ctx, KA_CLIPBOARD_CLIPBOARD, "via allegro"), 1);
        char *text = _gui_clipboard_get(ctx, KA_CLIPBOARD_CLIPBOARD, SIZE_MAX);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "via allegro");
        free(text);
        EXPECT_EQ(_gui_clipboard_set(ctx, KA_CLIPBOARD_PRIMARY, "no primary"), 0);
        EXPECT_EQ(_gui_clipboard_get(ctx, KA_CLIPBOARD_PRIMARY, SIZE_MAX), nullptr);
    }
    EXPECT_EQ(ka_clipboard_available(), 1);
}

} // namespace
