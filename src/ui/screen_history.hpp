// src/ui/screen_history.hpp: the sent messages, newest first; a tap sends one again, a hold
// offers to keep it as a preset or delete it, and "Clear" empties the history.
#pragma once

struct LUMIKEY_APP;

// Builds the history window, its list and its actions popup (closed).
void screen_history_build(LUMIKEY_APP *app);
// Once per loop pass while the history is shown: delivers the list's long press.
void screen_history_tick(LUMIKEY_APP *app);
// The back key: closes the actions popup if it is open. 1 when it was.
int screen_history_close_popup(LUMIKEY_APP *app);
