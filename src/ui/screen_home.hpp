// src/ui/screen_home.hpp: the home screen, where the program starts and every screen returns:
// the presets, the output toggles, the message field and the way to the other screens.
#pragma once

struct LUMIKEY_APP;

// Builds the home window, its list and its two popups (both closed).
void screen_home_build(LUMIKEY_APP *app);
// Once per loop pass while the home screen is shown: delivers the list's long press.
void screen_home_tick(LUMIKEY_APP *app);
// "Send": sends the typed message, if any, and empties the field.
void screen_home_send(LUMIKEY_APP *app);
// The message field (the one Enter sends from and the soft keyboard serves); -1 when none.
int screen_home_message_field(const LUMIKEY_APP *app);
// A rebuild of the home screen itself (a resize, a language change) keeps the typed message,
// where the caret was and the focus: keep before the old context goes, restore after the build.
void screen_home_keep(LUMIKEY_APP *app);
void screen_home_restore(LUMIKEY_APP *app);
// The back key: closes the confirm popup, else the actions popup. 1 when one was closed.
int screen_home_close_popup(LUMIKEY_APP *app);
// Opens the actions popup of a preset, as a long press on it does.
void app_open_preset_actions(LUMIKEY_APP *app, int preset_id);
