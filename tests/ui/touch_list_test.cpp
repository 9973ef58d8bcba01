// tests/ui/touch_list_test.cpp: the touch list's gestures (drag threshold, long press, taps
// that wander), its scroll clamping when the model changes, the wheel, wrapped row heights and
// the UTF-8-safe one-line cut.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <allegro5/allegro_ttf.h>

#include "support/view_kit.hpp"
#include "ui/text_wrap.hpp"
#include "ui/touch_list.hpp"

namespace {

struct Row {
    bool header;
    int id;
    std::string title, subtitle; // subtitle "" = none
};

// A model the test changes at will, and the ids the list reported.
struct Model {
    std::vector<Row> rows;
    std::vector<int> taps, longs;
};

size_t m_count(const void *user) {
    return ((const Model *)user)->rows.size();
}
void m_row(const void *user, size_t i, TOUCH_ROW *out) {
    const Row &r = ((const Model *)user)->rows.at(i);
    out->header = r.header;
    out->id = r.id;
    out->title = r.title.c_str();
    out->subtitle = r.subtitle.empty() ? nullptr : r.subtitle.c_str();
}
void m_tap(void *user, int id) {
    ((Model *)user)->taps.push_back(id);
}
void m_long(void *user, int id) {
    ((Model *)user)->longs.push_back(id);
}

// Rows: a header (40 px) then plain rows of 52 px with ids 100, 101, ...
void fill(Model &m, int plain_rows) {
    m.rows.clear();
    m.rows.push_back({true, -1, "Section", ""});
    for (int i = 0; i < plain_rows; i++) m.rows.push_back({false, 100 + i, "row", ""});
}

// The list sits at y = 100 in a 480 x 800 window, 400 px high.
class TouchListTest : public ::testing::Test {
protected:
    void SetUp() override {
        v.src = {m_count, m_row, m_tap, m_long, &model};
        v.empty_text = "Nothing here";
        id = touch_list_add(&k.app, &v, k.win, 0, LIST_Y, 480, 400);
        ASSERT_GE(id, 0);
    }
    // Window y of the middle of plain row i (below the 40 px header), at scroll 0.
    static int row_y(int i) { return LIST_Y + 40 + 52 * i + 26; }

    static constexpr int LIST_Y = 100;
    ViewKit k;
    Model model;
    TOUCH_LIST_VIEW v{};
    int id = -1;
};

TEST_F(TouchListTest, MovingExactlyTheThresholdStillTapsOnePixelMoreDrags) {
    fill(model, 20);
    k.draw(id);
    int y = row_y(3);
    k.kit.move(50, y);
    k.kit.press(50, y);
    k.kit.move(50, y - 12);
    EXPECT_FALSE(v.moved);
    EXPECT_EQ(v.scroll, 0) << "no scrolling before the press becomes a drag";
    // Released 12 px up the press is still on row 3's 52 px card: a tap.
    k.kit.release(50, y - 12);
    ASSERT_EQ(model.taps, std::vector<int>{103});

    k.kit.press(50, y);
    k.kit.move(50, y - 13);
    EXPECT_TRUE(v.moved);
    EXPECT_FLOAT_EQ(v.scroll, 13) << "a drag scrolls by the whole distance from the press";
    k.kit.move(50, y - 40);
    EXPECT_FLOAT_EQ(v.scroll, 40);
    k.kit.release(50, y - 40);
    EXPECT_EQ(model.taps.size(), 1u) << "a drag never taps";
}

TEST_F(TouchListTest, LongPressFiresOnceAndSwallowsTheTap) {
    fill(model, 5);
    k.draw(id);
    k.kit.move(50, row_y(1));
    k.kit.press(50, row_y(1));
    touch_list_tick(&v);
    EXPECT_TRUE(model.longs.empty()) << "not before the hold time";
    v.down_time -= 0.6; // the hold has lasted past its time
    touch_list_tick(&v);
    touch_list_tick(&v);
    EXPECT_EQ(model.longs, std::vector<int>{101});
    k.kit.release(50, row_y(1));
    EXPECT_TRUE(model.taps.empty());
    // The next press starts afresh.
    k.kit.press(50, row_y(2));
    v.down_time -= 0.6;
    touch_list_tick(&v);
    EXPECT_EQ(model.longs, (std::vector<int>{101, 102}));
    k.kit.release(50, row_y(2));
}

TEST_F(TouchListTest, HeadersAndWanderingPressesNeitherTapNorHold) {
    fill(model, 5);
    k.draw(id);
    int header_y = LIST_Y + 20;
    k.kit.move(50, header_y);
    k.kit.press(50, header_y);
    v.down_time -= 1;
    touch_list_tick(&v);
    k.kit.release(50, header_y);
    // Pressed on row 0, released on row 1 without passing the drag threshold.
    k.kit.move(50, row_y(0) + 20);
    k.kit.press(50, row_y(0) + 20);
    k.kit.move(50, row_y(0) + 30);
    k.kit.release(50, row_y(0) + 30);
    // A second button is not the list's.
    k.kit.press(50, row_y(2), 2);
    k.kit.release(50, row_y(2), 2);
    EXPECT_TRUE(model.taps.empty());
    EXPECT_TRUE(model.longs.empty());
}

TEST_F(TouchListTest, WheelScrollsByARowPerNotchWithinTheContent) {
    fill(model, 20); // 40 + 20 * 52 + 16 = 1096 px of content in 400
    k.draw(id);
    ASSERT_FLOAT_EQ(v.content_h, 1096);
    k.kit.feed(gui_ev_move(50, 200, -1));
    EXPECT_FLOAT_EQ(v.scroll, 68);
    k.kit.feed(gui_ev_move(50, 200, -2));
    EXPECT_FLOAT_EQ(v.scroll, 204);
    k.kit.feed(gui_ev_move(50, 200, -100));
    EXPECT_FLOAT_EQ(v.scroll, 1096 - 400);
    k.kit.feed(gui_ev_move(50, 200, 3));
    EXPECT_FLOAT_EQ(v.scroll, 1096 - 400 - 204);
    k.kit.feed(gui_ev_move(50, 200, 100));
    EXPECT_FLOAT_EQ(v.scroll, 0);
    // The wheel moves what the pointer sees: after scrolling, a tap finds the row now there.
    k.kit.feed(gui_ev_move(50, 200, -1));
    k.kit.press(50, row_y(0));
    k.kit.release(50, row_y(0));
    EXPECT_EQ(model.taps, std::vector<int>{101}) << "row 0's place now shows row 1 (68 px on)";
}

TEST_F(TouchListTest, ShortContentNeverScrollsAndAShrunkModelPullsScrollBack) {
    fill(model, 3);
    k.draw(id);
    k.kit.feed(gui_ev_move(50, 200, -5));
    k.kit.move(50, row_y(0));
    k.kit.press(50, row_y(0));
    k.kit.move(50, row_y(0) - 100);
    k.kit.release(50, row_y(0) - 100);
    EXPECT_EQ(v.scroll, 0);

    fill(model, 40);
    k.draw(id);
    k.kit.feed(gui_ev_move(50, 200, -100));
    ASSERT_GT(v.scroll, 1500);
    fill(model, 8); // 40 + 8 * 52 + 16 = 472: 72 px beyond the view
    k.draw(id);
    EXPECT_FLOAT_EQ(v.scroll, 72);
    model.rows.clear();
    k.draw(id);
    EXPECT_EQ(v.scroll, 0);
    EXPECT_EQ(v.content_h, 0);
}

TEST_F(TouchListTest, WrappedRowsGrowByALinePerExtraLineButNeverShrink) {
    // The built-in font: 8 px a character, 8 px a line. Text width 480 - 36 = 444 holds 55.
    std::string word(50, 'w');
    model.rows = {{false, 1, word + " " + word + " " + word, ""}, // 3 lines: +16
                  {false, 2, "x", ""},                            // fixed 52
                  {false, 3, word + " " + word, word}};           // 2 + 1 lines: +8 on 68
    v.wrap = 1;
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, (52 + 16) + 52 + (68 + 8) + 16);
    v.wrap = 0;
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 52 + 52 + 68 + 16);
}

// Heights are kept between draws: a width change, an edited text and a deleted row must each
// show at the next draw and hit test, never the layout of before.
TEST_F(TouchListTest, KeptLayoutsFollowTheWidthTheTextsAndDeletedRows) {
    std::string word(50, 'w');
    model.rows = {{false, 1, word + " " + word, ""}, // 2 lines at 444 px: 60
                  {false, 2, "x", ""},
                  {false, 3, "y", ""}};
    v.wrap = 1;
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 60 + 52 + 52 + 16);
    // Narrower: text width 240 - 36 = 204 holds 25 characters, so each word takes 2 lines.
    KA_GUI_WIDGET *w = ka_gui_get_widget(k.app.gui, id);
    ASSERT_NE(w, nullptr);
    ka_gui_widget_set_rect(k.app.gui, id, w->x, w->y, 240, 400);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, (52 + 3 * 8) + 52 + 52 + 16);
    ka_gui_widget_set_rect(k.app.gui, id, w->x, w->y, 480, 400);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 60 + 52 + 52 + 16);
    // The same string object edited in place, to one line.
    model.rows[0].title = "short";
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 52 + 52 + 52 + 16);

    // Row 2 deleted: row 3 moves up into its place and takes its taps.
    model.rows.erase(model.rows.begin() + 1);
    int second = LIST_Y + 52 + 26;
    k.kit.move(50, second);
    k.kit.press(50, second);
    k.kit.release(50, second);
    EXPECT_EQ(model.taps, std::vector<int>{3});
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 52 + 52 + 16);
}

// A name edited by hand into presets.json may hold bytes that are not UTF-8. The font stops
// drawing at the first of them, so a row showed only what came before, or nothing at all.
TEST_F(TouchListTest, TextThatIsNotUtf8IsDrawnWithReplacementCharacters) {
    // Pixels of the one row's text area that differ from its card's empty right end.
    auto drawn = [&](const std::string &title, const std::string &subtitle) {
        model.rows = {{false, 1, title, subtitle}};
        al_set_target_bitmap(k.target);
        al_clear_to_color(al_map_rgb(0, 0, 0));
        k.draw(id);
        ALLEGRO_COLOR card = al_get_pixel(k.target, 400, LIST_Y + 30);
        int n = 0;
        for (int y = LIST_Y + 6; y < LIST_Y + 56; y++)
            for (int x = 12; x < 212; x++) {
                ALLEGRO_COLOR c = al_get_pixel(k.target, x, y);
                n += c.r != card.r || c.g != card.g || c.b != card.b;
            }
        return n;
    };
    for (int wrap : {0, 1}) {
        v.wrap = wrap;
        int empty = drawn(" ", " ");
        EXPECT_GT(drawn("\xFFName", " "), empty) << "wrap " << wrap << ": a title from its start";
        EXPECT_GT(drawn(" ", "\xFFName"), empty) << "wrap " << wrap << ": a subtitle";
        EXPECT_GT(drawn("Na\xFFme", " "), drawn("Na", " ")) << "wrap " << wrap << ": to its end";
    }
}

TEST(TouchListReadableTest, MalformedSequencesReadAsTheMessageReaderReadsThem) {
    char out[64];
    const char *valid = "Gr\xC3\xBC\xC3\x9F"
                        "e \xEF\xBF\xBD"; // a literal U+FFFD is valid
    EXPECT_EQ(touch_list_readable(valid, out, sizeof out), valid) << "valid text is not copied";
    const std::string r = "\xEF\xBF\xBD";
    // A stray byte, an overlong form, an encoded surrogate and a sequence cut at the end.
    EXPECT_EQ(touch_list_readable("a\xFF\xC0\xAF\xED\xA0\x80z\xC3", out, sizeof out),
              "a" + r + r + r + "z" + r);
    EXPECT_STREQ(touch_list_readable("\xFF\xFF"
                                     "a",
                                     out, 6),
                 r.c_str())
        << "whole characters only";
}

// The cut is checked against a real proportional font, where characters differ in width and
// non-ASCII ones take two or three bytes.
TEST(TouchListFitTest, CutsWholeCharactersAndKeepsTheLongestBodyThatFits) {
    if (!al_is_system_installed()) al_init();
    al_init_font_addon();
    al_init_ttf_addon();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_FONT *font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 18, 0);
    ASSERT_NE(font, nullptr);
    const std::string text = "Grüße, ça va? ¿Qué tal? Ωμέγα € ok";
    auto width = [&](const std::string &s) {
        return text_wrap_font_width(s.data(), s.size(), font);
    };
    const float full = width(text);
    char out[128];
    for (float max_w = 0; max_w <= full + 10; max_w += 1) {
        size_t n = touch_list_fit(font, text.c_str(), max_w, out, sizeof out);
        std::string got(out);
        ASSERT_EQ(n, got.size());
        if (max_w >= full) {
            ASSERT_EQ(got, text);
            continue;
        }
        ASSERT_GE(got.size(), 3u);
        ASSERT_EQ(got.substr(got.size() - 3), "...");
        std::string body = got.substr(0, got.size() - 3);
        ASSERT_EQ(text.compare(0, body.size(), body), 0) << "the body is the text's start";
        ASSERT_NE((unsigned char)text[body.size()] & 0xC0, 0x80)
            << "cut inside a character at width " << max_w << ": " << got;
        if (!body.empty()) {
            ASSERT_LE(width(got), max_w);
        }
        // One character more would not fit.
        size_t next = body.size() + 1;
        while (next < text.size() && ((unsigned char)text[next] & 0xC0) == 0x80) next++;
        ASSERT_GT(width(text.substr(0, next) + "..."), max_w) << "gave up too early: " << got;
    }
    EXPECT_EQ(touch_list_fit(font, "first line\nsecond", 1000, out, sizeof out), 10u);
    EXPECT_STREQ(out, "first line");
    EXPECT_EQ(touch_list_fit(font, nullptr, 100, out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
    // A small output buffer still gets whole characters only.
    touch_list_fit(font, "ééééé", 1000, out, 6);
    EXPECT_STREQ(out, "éé");
    al_destroy_font(font);
}

} // namespace
