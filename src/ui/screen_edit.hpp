// src/ui/screen_edit.hpp: the preset editor, for a new preset or an existing one, with a live
// preview of the message in Morse.
#pragma once

struct LUMIKEY_APP;

// Builds the editor of preset target_id (a new preset when it names none), filled from the
// draft when one is waiting (which the build consumes), the message field focused.
void screen_edit_build(LUMIKEY_APP *app);
// A rebuild of the editor itself (a resize, a language change) keeps its unsaved content as the
// draft and the field that had the focus: keep before the old context goes, restore after.
void screen_edit_keep(LUMIKEY_APP *app);
void screen_edit_restore(LUMIKEY_APP *app);
