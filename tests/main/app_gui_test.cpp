// tests/main/app_gui_test.cpp: building the GUI of a screen on a real (virtual) display, trying
// again when a build could not be made, and what a screen carries through its own rebuild.
// ctest-label: display
#include <memory>
#include <gtest/gtest.h>

#include "main/app.hpp"
#include "support/test_display.hpp"

namespace {

class AppGui : public DisplayTest {
protected:
    void SetUp() override {
        app_.reset(new LUMIKEY_APP());
        a = app_.get();
        settings_default(&a->settings);
        a->display = display;
        a->disp_w = 480;
        a->disp_h = 800;
        a->ui_scale = 1;
        a->msg_field = a->target_id = -1;
    }
    void TearDown() override {
        // What the screens built hold (the key screen's decoder) goes as at the program's exit.
        for (int s = SCREEN_HOME; s <= SCREEN_KEY; s++) {
            const APP_SCREEN_HOOKS *hooks = app_screen_hooks((APP_SCREEN)s);
            if (hooks->release) hooks->release(a);
        }
        if (a->gui) ka_gui_destroy_ctx(&a->gui);
    }

    std::unique_ptr<LUMIKEY_APP> app_;
    LUMIKEY_APP *a = nullptr;
};

// A context the toolkit cannot make (here: no font to give it) must not leave the window blank
// for good: the build stays asked for, and the loop's next pass makes it.
TEST_F(AppGui, ABuildThatFailsIsTriedAgainOnTheNextPass) {
    a->screen = SCREEN_KEY;
    a->built_screen = SCREEN_HOME;
    a->needs_rebuild = 0; // the first build at start-up is not asked for through the flag
    app_build_gui(a);
    EXPECT_EQ(a->gui, nullptr);
    EXPECT_EQ(a->needs_rebuild, 1);
    EXPECT_EQ(a->built_screen, SCREEN_HOME);

    a->font = a->font_big = font;
    app_build_gui(a);
    ASSERT_NE(a->gui, nullptr);
    EXPECT_EQ(a->needs_rebuild, 0);
    EXPECT_EQ(a->built_screen, SCREEN_KEY);

    // A failed switch keeps the screen shown and still asks for the new one.
    KA_GUI_CTX *shown = a->gui;
    a->font = nullptr;
    app_set_screen(a, SCREEN_HISTORY);
    app_build_gui(a);
    EXPECT_EQ(a->gui, shown);
    EXPECT_EQ(a->built_screen, SCREEN_KEY);
    EXPECT_EQ(a->needs_rebuild, 1);
    a->font = font;
    app_build_gui(a);
    EXPECT_EQ(a->built_screen, SCREEN_HISTORY);
    EXPECT_EQ(a->needs_rebuild, 0);
}

// A rebuild makes a fresh context: the editor's typed text and focused field come back through
// its hooks, but only for a rebuild of the editor itself; the message field is the built
// screen's, and a screen without one has none.
TEST_F(AppGui, TheEditorKeepsItsTypedTextAndFocusThroughItsOwnRebuild) {
    a->font = a->font_big = font;
    a->presets = presets_new();
    ASSERT_NE(a->presets, nullptr);
    app_set_screen(a, SCREEN_EDIT);
    app_build_gui(a);
    ASSERT_GE(a->edit_name, 0);
    EXPECT_EQ(app_message_field(a), -1) << "the editor sends nothing on Enter";
    ka_gui_textarea_set_text(a->gui, a->edit_text, "CQ CQ");
    ka_gui_textarea_set_text(a->gui, a->edit_name, "Call");
    ka_gui_set_focus(a->gui, a->edit_name);

    KA_GUI_CTX *old = a->gui;
    a->disp_w = 800; // a resize
    a->disp_h = 480;
    app_build_gui(a);
    ASSERT_NE(a->gui, old);
    EXPECT_STREQ(ka_gui_textarea_get_text(a->gui, a->edit_text), "CQ CQ");
    EXPECT_STREQ(ka_gui_textarea_get_text(a->gui, a->edit_name), "Call");
    EXPECT_EQ(ka_gui_get_focus(a->gui), a->edit_name);

    // Going home and building there: the home screen's field, without the editor's focus.
    app_set_screen(a, SCREEN_HOME);
    app_build_gui(a);
    ASSERT_GE(a->msg_field, 0);
    EXPECT_EQ(app_message_field(a), a->msg_field);
    EXPECT_NE(ka_gui_get_focus(a->gui), a->msg_field);
    presets_free(&a->presets);
}

} // namespace
