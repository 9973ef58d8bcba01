// tests/ui/ui_popup_test.cpp: a popup stays closed until shown, takes the presses over the
// screen's window while open, and its close says whether there was anything to close.
#include <gtest/gtest.h>

#include "support/view_kit.hpp"
#include "ui/ui_popup.hpp"

namespace {

TEST(UiPopup, ShownInFrontOfTheScreenAndClosedOnce) {
    ViewKit k;
    // A button of the screen's window right where the popup's own button will be.
    int under = ka_gui_add_button(k.kit.ctx, k.win, "under", 150, 210, 100, 40, 1, gui_rec_click,
                                  &k.kit.rec);
    int p = ui_popup(&k.app, 200, 100); // at x 140, y 200 on 480 x 800
    ASSERT_GE(p, 0);
    int over =
        ka_gui_add_button(k.kit.ctx, p, "over", 10, 10, 100, 40, 1, gui_rec_click, &k.kit.rec);
    EXPECT_FALSE(ka_gui_window_is_open(k.kit.ctx, p)) << "a popup is made closed";

    k.kit.click(200, 230);
    ASSERT_EQ(k.kit.rec.count("click"), 1);
    EXPECT_EQ(k.kit.rec.last("click")->id, under);

    k.app.redraw = 0;
    ui_popup_show(&k.app, p);
    EXPECT_TRUE(ka_gui_window_is_open(k.kit.ctx, p));
    EXPECT_EQ(k.app.redraw, 1);
    k.kit.click(200, 230);
    ASSERT_EQ(k.kit.rec.count("click"), 2);
    EXPECT_EQ(k.kit.rec.last("click")->id, over) << "the open popup takes the press";

    k.app.redraw = 0;
    EXPECT_EQ(ui_popup_close(&k.app, p), 1);
    EXPECT_FALSE(ka_gui_window_is_open(k.kit.ctx, p));
    EXPECT_EQ(k.app.redraw, 1);
    k.app.redraw = 0;
    EXPECT_EQ(ui_popup_close(&k.app, p), 0) << "nothing left to close";
    EXPECT_EQ(k.app.redraw, 0);
    // A popup that could not be made (-1) is never open and never shown.
    EXPECT_EQ(ui_popup_close(&k.app, -1), 0);
    ui_popup_show(&k.app, -1);
    EXPECT_EQ(k.app.redraw, 0);
}

} // namespace
