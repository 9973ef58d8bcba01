// src/ui/screen_options.hpp: the options screen, where every setting is changed, one tab at a
// time, with immediate effect; the main loop saves what changed.
#pragma once

struct LUMIKEY_APP;

// Builds the window of the current tab (options_tab), with the palette popup (closed) on the
// Colors tab.
void screen_options_build(LUMIKEY_APP *app);
// Once per loop pass while the screen is built: shows a flashlight measurement that has ended.
void screen_options_update(LUMIKEY_APP *app);
// The back key: closes the palette popup. 1 when it was open, else 0 (the app goes home).
int screen_options_close_popup(LUMIKEY_APP *app);
// Leaving the screen: the key screen's decoder goes, so the next one is made with the settings
// as they are now.
void screen_options_leave(LUMIKEY_APP *app);
