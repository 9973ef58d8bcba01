// tests/ui/text_view_test.cpp: the text view follows new text until the user scrolls back,
// resumes near the end, cannot be dragged when the text fits, and caps a paragraph's lines.
#include <gtest/gtest.h>

#include <string>

#include "support/view_kit.hpp"
#include "ui/text_view.hpp"

namespace {

// One paragraph in the widget's font (8 px lines); its text changes as the test goes.
struct Feed {
    std::string text;
};

size_t feed_fill(void *user, TEXT_PARA *paras, size_t max) {
    if (max < 1) return 0;
    paras[0].rgb = 0xE8EAF0;
    paras[0].text = ((Feed *)user)->text.c_str();
    return 1;
}

// n lines of text, each one short word, one per paragraph line.
std::string lines(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += (i ? "\nw" : "w");
    return s;
}

// The view is 100 px high at y = 200: 12 lines of 8 px fit (plus the 6 px paragraph gap).
class TextViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        id = text_view_add(&k.app, &v, k.win, 10, 200, 300, 100, feed_fill, &feed);
        ASSERT_GE(id, 0);
    }
    ViewKit k;
    Feed feed;
    TEXT_VIEW v{};
    int id = -1;
};

TEST_F(TextViewTest, FollowsNewTextUntilScrolledBackAndResumesNearTheEnd) {
    feed.text = lines(30); // 240 + 6 = 246 px
    k.draw(id);
    EXPECT_TRUE(v.follow);
    EXPECT_FLOAT_EQ(v.scroll, 146) << "the end of the text is in sight";

    k.kit.feed(gui_ev_move(50, 250, 1)); // one notch up: 40 px
    EXPECT_FLOAT_EQ(v.scroll, 106);
    EXPECT_FALSE(v.follow);
    feed.text = lines(40);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.scroll, 106) << "new text does not move a view the user parked";

    // Back down to within 4 px of the end: following again.
    v.scroll = v.content_h - v.view_h - 4 + 40;
    k.kit.feed(gui_ev_move(50, 250, 1));
    EXPECT_TRUE(v.follow);
    feed.text = lines(50);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.scroll, 50 * 8 + 6 - 100);
}

TEST_F(TextViewTest, DragParksTheViewOnlyPastTheThreshold) {
    feed.text = lines(30);
    k.draw(id);
    k.kit.move(50, 250);
    k.kit.press(50, 250);
    feed.text = lines(31);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.scroll, 146) << "the text does not slide away under a held finger";
    k.kit.move(50, 262);
    EXPECT_TRUE(v.follow) << "12 px is still a touch, not a drag";
    EXPECT_FLOAT_EQ(v.scroll, 146);
    k.kit.move(50, 263);
    EXPECT_FALSE(v.follow);
    EXPECT_FLOAT_EQ(v.scroll, 146 - 13);
    feed.text = lines(32);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.scroll, 133) << "held while text arrives";
    k.kit.release(50, 263);
    EXPECT_FALSE(v.follow);
    text_view_reset(&v);
    EXPECT_EQ(v.scroll, 0);
    EXPECT_TRUE(v.follow);
}

TEST_F(TextViewTest, TextThatFitsShowsFromTheTopAndCannotBeDragged) {
    feed.text = lines(3);
    k.draw(id);
    EXPECT_EQ(v.scroll, 0);
    k.kit.rec.calls.clear();
    k.kit.move(50, 250);
    k.kit.press(50, 250);
    k.kit.move(50, 150);
    k.kit.release(50, 150);
    EXPECT_EQ(v.pressing, 0);
    EXPECT_EQ(v.scroll, 0);
    EXPECT_TRUE(v.follow);
    // Shrinking text that had been scrolled back resumes following.
    feed.text = lines(30);
    k.draw(id);
    k.kit.feed(gui_ev_move(50, 250, 2));
    ASSERT_FALSE(v.follow);
    feed.text = lines(2);
    k.draw(id);
    EXPECT_TRUE(v.follow);
    EXPECT_EQ(v.scroll, 0);
}

TEST_F(TextViewTest, AParagraphShowsAtMostItsFirst512Lines) {
    feed.text = lines(600);
    k.draw(id);
    EXPECT_FLOAT_EQ(v.content_h, 512 * 8 + 6);
    // A rebuilt screen keeps the position and the mode.
    k.kit.feed(gui_ev_move(50, 250, 1));
    float parked = v.scroll;
    int again = text_view_add(&k.app, &v, k.win, 10, 200, 300, 100, feed_fill, &feed);
    ASSERT_GE(again, 0);
    k.draw(again);
    EXPECT_FLOAT_EQ(v.scroll, parked);
    EXPECT_FALSE(v.follow);
}

} // namespace
