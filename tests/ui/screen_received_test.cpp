// tests/ui/screen_received_test.cpp: what the received list shows under each message (its
// local time and symbols, or the symbols alone when the time cannot be converted), a failed
// clipboard copy that still closes the popup, and the back key closing the popup first.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <ctime>

#include "support/test_env.hpp"
#include "support/view_kit.hpp"
#include "ui/screen_received.hpp"

namespace {

class ScreenReceivedTest : public ::testing::Test {
protected:
    void SetUp() override {
        tzset();
        k.app.received = received_new();
        ASSERT_NE(k.app.received, nullptr);
        k.app.screen = SCREEN_RECEIVED;
        k.app.recv_actions_win = k.app.recv_actions_title = k.app.recv_target = -1;
    }
    void TearDown() override { received_free(&k.app.received); }

    TOUCH_ROW row(size_t i) {
        TOUCH_ROW r{};
        r.id = -1;
        k.app.recv_list.src.row(k.app.recv_list.src.user, i, &r);
        return r;
    }
    bool popup_open() { return ka_gui_window_is_open(k.app.gui, k.app.recv_actions_win); }

    ScopedEnv tz{"TZ", "UTC"};
    ViewKit k;
};

TEST_F(ScreenReceivedTest, RowsShowTimeAndSymbolsOrTheSymbolsAlone) {
    received_add(k.app.received, INT64_MAX, "FAR", "..-. .- .-.", 0);
    int id = received_add(k.app.received, 1765195200, "Grüße", "--. .-.", 80); // 08/12 12:00 UTC
    screen_received_build(&k.app);
    ASSERT_EQ(k.app.recv_list.src.count(k.app.recv_list.src.user), 2u);
    TOUCH_ROW newest = row(0);
    EXPECT_EQ(newest.id, id);
    EXPECT_STREQ(newest.title, "Grüße");
    EXPECT_STREQ(newest.subtitle, "08/12 12:00   --. .-.");
    EXPECT_STREQ(row(1).subtitle, "   ..-. .- .-.") << "a time past any calendar shows nothing";
}

TEST_F(ScreenReceivedTest, CopyWithoutAClipboardLogsAndStillClosesThePopup) {
    received_add(k.app.received, 1765195200, "SOS", "... --- ...", 100);
    screen_received_build(&k.app);
    k.draw(k.app.recv_list.widget_id);
    k.kit.click(240, 110); // the first row
    ASSERT_TRUE(popup_open());
    LogCapture log;
    k.kit.click(240, 302); // "Copy"; the app has no display, so no clipboard
    EXPECT_TRUE(log.contains("clipboard copy failed"));
    EXPECT_FALSE(popup_open());
}

TEST_F(ScreenReceivedTest, BackClosesThePopupOnlyOnThisScreen) {
    received_add(k.app.received, 1765195200, "SOS", "... --- ...", 100);
    screen_received_build(&k.app);
    k.draw(k.app.recv_list.widget_id);
    EXPECT_EQ(screen_received_close_popup(&k.app), 0) << "nothing open: the loop leaves";
    k.kit.click(240, 110);
    ASSERT_TRUE(popup_open());
    k.app.screen = SCREEN_HOME; // a screen change not yet rebuilt
    EXPECT_EQ(screen_received_close_popup(&k.app), 0);
    k.app.screen = SCREEN_RECEIVED;
    EXPECT_EQ(screen_received_close_popup(&k.app), 1);
    EXPECT_FALSE(popup_open());
}

} // namespace
