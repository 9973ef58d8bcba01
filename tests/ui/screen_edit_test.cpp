// tests/ui/screen_edit_test.cpp: the preset editor built on a real (virtual) display: the live
// preview, saving a new or an existing preset (and one deleted meanwhile), the empty message,
// Cancel and Back, a message taken from elsewhere, and the draft that survives a resize and a
// language change.
// ctest-label: display
#include <string>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"
#include "support/screen_kit.hpp"

namespace {

class EditScreen : public ::testing::Test {
protected:
    void SetUp() override { kit.reset(new ScreenKit()); }
    void TearDown() override {
        kit.reset();
        i18n_set_language("en");
    }
    std::string preview() {
        KA_GUI_WIDGET *w = ka_gui_get_widget(app()->gui, app()->edit_preview);
        return w ? ((KA_GUI_LABEL_DATA *)w->data)->text : "<none>";
    }
    std::string field(int id) { return ka_gui_textarea_get_text(app()->gui, id); }
    int category() { return ka_gui_combobox_get_selected(app()->gui, app()->edit_cat); }
    void open_new() {
        app()->target_id = -1;
        kit->show(SCREEN_EDIT);
    }
    void save() { kit->click(kit->find(KA_GUI_BUTTON, i18n_tr("Save"))); }
    LUMIKEY_APP *app() { return kit->app; }

    std::unique_ptr<ScreenKit> kit;
};

TEST_F(EditScreen, ThePreviewShowsSymbolsTimeAndWhatCannotBeSent) {
    open_new();
    EXPECT_EQ(kit->all(KA_GUI_LABEL, "New preset").size(), 1u);
    EXPECT_EQ(category(), PRESET_CAT_CUSTOM);
    EXPECT_EQ(preview(), "Type the message to send");
    EXPECT_EQ(ka_gui_get_focus(app()->gui), app()->edit_text);

    // S O S at 100 ms a unit: 5 + 3 + 11 + 3 + 5 units.
    kit->type("SOS");
    EXPECT_EQ(preview(), "... --- ...   (2.7 s)");
    kit->type(" Ω");
    EXPECT_EQ(preview(), "... --- ...   (2.7 s)  -  1 character(s) cannot be sent");

    ka_gui_textarea_set_text(app()->gui, app()->edit_text, "");
    kit->type("ΩΩ");
    EXPECT_EQ(preview(), "Type the message to send");
}

TEST_F(EditScreen, SaveAddsANewPresetWithItsNameAndCategoryAndGoesHome) {
    open_new();
    kit->click(kit->find(KA_GUI_BUTTON, "Save"));
    EXPECT_EQ(preview(), "The message is empty");
    EXPECT_EQ(app()->screen, SCREEN_EDIT);
    EXPECT_EQ(app()->presets->count, 0u);

    kit->click(ka_gui_get_widget(app()->gui, app()->edit_text));
    kit->type("MEET AT NOON");
    kit->click(ka_gui_get_widget(app()->gui, app()->edit_name));
    kit->type("Meeting");
    ka_gui_combobox_set_selected(app()->gui, app()->edit_cat, PRESET_CAT_SOCIAL);
    save();
    EXPECT_EQ(app()->screen, SCREEN_HOME);
    ASSERT_EQ(app()->presets->count, 1u);
    const PRESET &p = app()->presets->items[0];
    EXPECT_STREQ(p.text, "MEET AT NOON");
    EXPECT_STREQ(p.name, "Meeting");
    EXPECT_EQ(p.category, PRESET_CAT_SOCIAL);
    EXPECT_EQ(p.is_default, 0);
    std::string saved = read_file(kit->save.file("presets.json"));
    EXPECT_NE(saved.find("\"MEET AT NOON\""), std::string::npos);
    EXPECT_NE(saved.find("\"social\""), std::string::npos);
}

TEST_F(EditScreen, AnExistingPresetIsUpdatedInPlace) {
    presets_add(app()->presets, "First", "FIRST", PRESET_CAT_STATUS, 0, "");
    int id = presets_add(app()->presets, "Call", "CQ CQ", PRESET_CAT_RADIO, 1, "en");
    app()->target_id = id;
    kit->show(SCREEN_EDIT);
    EXPECT_EQ(kit->all(KA_GUI_LABEL, "Edit preset").size(), 1u);
    EXPECT_EQ(field(app()->edit_text), "CQ CQ");
    EXPECT_EQ(field(app()->edit_name), "Call");
    EXPECT_EQ(category(), PRESET_CAT_RADIO);
    EXPECT_EQ(preview().rfind("-.-. --.- / -.-. --.-", 0), 0u) << preview();

    kit->type(" DE F4XYZ");
    save();
    ASSERT_EQ(app()->presets->count, 2u);
    const PRESET *p = presets_get(app()->presets, id);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->text, "CQ CQ DE F4XYZ");
    EXPECT_EQ(p->is_default, 0) << "an edited default becomes the user's own";
    EXPECT_EQ(presets_index_of(app()->presets, id), 1);
}

TEST_F(EditScreen, APresetDeletedMeanwhileIsSavedAsANewOne) {
    int id = presets_add(app()->presets, "Gone", "GONE", PRESET_CAT_STATUS, 0, "");
    app()->target_id = id;
    presets_remove(app()->presets, id);
    kit->show(SCREEN_EDIT);
    EXPECT_EQ(app()->target_id, -1);
    EXPECT_EQ(kit->all(KA_GUI_LABEL, "New preset").size(), 1u);
    kit->type("BACK AGAIN");
    save();
    ASSERT_EQ(app()->presets->count, 1u);
    EXPECT_STREQ(app()->presets->items[0].text, "BACK AGAIN");
    EXPECT_NE(app()->presets->items[0].id, id);
}

TEST_F(EditScreen, CancelAndBackSaveNothing) {
    int id = presets_add(app()->presets, "Keep", "KEEP ME", PRESET_CAT_STATUS, 0, "");
    app()->target_id = id;
    kit->show(SCREEN_EDIT);
    kit->type(" CHANGED");
    kit->click(kit->find(KA_GUI_BUTTON, "Cancel"));
    EXPECT_EQ(app()->screen, SCREEN_HOME);
    EXPECT_STREQ(presets_get(app()->presets, id)->text, "KEEP ME");

    open_new();
    kit->type("NEVER SAVED");
    kit->back();
    EXPECT_EQ(app()->screen, SCREEN_HOME);
    EXPECT_EQ(app()->presets->count, 1u);
    EXPECT_TRUE(read_file(kit->save.file("presets.json")).empty());
}

TEST_F(EditScreen, AMessageFromElsewhereOpensAsANewPresetOfTheUsersOwn) {
    int id = presets_add(app()->presets, "Other", "OTHER", PRESET_CAT_STATUS, 0, "");
    app()->target_id = id;
    app_edit_new_preset_from(app(), "HEARD ON AIR");
    kit->pass();
    EXPECT_EQ(app()->target_id, -1);
    EXPECT_EQ(field(app()->edit_text), "HEARD ON AIR");
    EXPECT_EQ(field(app()->edit_name), "");
    EXPECT_EQ(category(), PRESET_CAT_CUSTOM);
    EXPECT_EQ(app()->draft_valid, 0) << "the build consumes the draft";
    EXPECT_EQ(preview().rfind("....", 0), 0u) << preview();
    save();
    EXPECT_EQ(app()->presets->count, 2u);
}

TEST_F(EditScreen, AResizeAndALanguageChangeKeepTheUnsavedEdits) {
    int id = presets_add(app()->presets, "Call", "CQ", PRESET_CAT_RADIO, 0, "");
    app()->target_id = id;
    kit->show(SCREEN_EDIT);
    kit->type(" TEST");
    kit->click(ka_gui_get_widget(app()->gui, app()->edit_name));
    kit->type(" 2");
    ka_gui_combobox_set_selected(app()->gui, app()->edit_cat, PRESET_CAT_PRACTICE);

    kit->resize(800, 480);
    EXPECT_EQ(field(app()->edit_text), "CQ TEST");
    EXPECT_EQ(field(app()->edit_name), "Call 2");
    EXPECT_EQ(category(), PRESET_CAT_PRACTICE);
    EXPECT_EQ(ka_gui_get_focus(app()->gui), app()->edit_name) << "typing goes on in the name";
    kit->type("!");

    i18n_set_language("it");
    app()->needs_rebuild = 1;
    kit->pass();
    EXPECT_EQ(kit->all(KA_GUI_LABEL, i18n_tr("Edit preset")).size(), 1u);
    EXPECT_STRNE(i18n_tr("Edit preset"), "Edit preset");
    EXPECT_EQ(field(app()->edit_text), "CQ TEST");
    EXPECT_EQ(field(app()->edit_name), "Call 2!");
    EXPECT_EQ(category(), PRESET_CAT_PRACTICE);
    save();
    const PRESET *p = presets_get(app()->presets, id);
    EXPECT_STREQ(p->text, "CQ TEST");
    EXPECT_STREQ(p->name, "Call 2!");
    EXPECT_EQ(p->category, PRESET_CAT_PRACTICE);
}

} // namespace

// A full list takes no new preset, and says why; an existing one can still be edited.
TEST_F(EditScreen, AFullListRefusesANewPresetWithItsReasonAndKeepsTheText) {
    for (int i = 0; i < PRESETS_MAX; i++)
        ASSERT_GT(presets_add(app()->presets, "", "OLD", PRESET_CAT_CUSTOM, 0, ""), 0);
    open_new();
    kit->type("ONE MORE");
    save();
    EXPECT_EQ(preview(), "The list is full: 1000 presets at most");
    EXPECT_EQ(app()->screen, SCREEN_EDIT);
    EXPECT_EQ(field(app()->edit_text), "ONE MORE") << "the user's text stays for them to copy";
    EXPECT_EQ(app()->presets->count, (size_t)PRESETS_MAX);

    app()->target_id = app()->presets->items[0].id;
    app()->draft_valid = 0;
    kit->show(SCREEN_EDIT);
    ka_gui_textarea_set_text(app()->gui, app()->edit_text, "EDITED");
    save();
    EXPECT_EQ(app()->screen, SCREEN_HOME);
    EXPECT_STREQ(app()->presets->items[0].text, "EDITED");
}
