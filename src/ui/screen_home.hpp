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
// The back key: closes the confirm popup, else the actions popup. 1 when one was closed.
int screen_home_close_popup(LUMIKEY_APP *app);
// Opens the actions popup of a preset, as a long press on it does.
void app_open_preset_actions(LUMIKEY_APP *app, int preset_id);
