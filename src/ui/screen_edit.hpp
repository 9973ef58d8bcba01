// src/ui/screen_edit.hpp: the preset editor, for a new preset or an existing one, with a live
// preview of the message in Morse.
#pragma once

struct LUMIKEY_APP;

// Builds the editor of preset target_id (a new preset when it names none), filled from the
// draft when one is waiting (which the build consumes), the message field focused.
void screen_edit_build(LUMIKEY_APP *app);
