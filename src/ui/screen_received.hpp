// src/ui/screen_received.hpp: the received messages with their time and symbols; a tap or a
// hold offers to copy, send again, keep as a preset or delete one.
#pragma once

struct LUMIKEY_APP;

// Builds the received-messages window, its list and its actions popup (closed).
void screen_received_build(LUMIKEY_APP *app);
// Once per loop pass while the list is shown: delivers the list's long press.
void screen_received_tick(LUMIKEY_APP *app);
// The back key: closes the actions popup if it is open. 1 when it was.
int screen_received_close_popup(LUMIKEY_APP *app);
