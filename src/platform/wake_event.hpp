// src/platform/wake_event.hpp: the one user event worker threads send to the main loop.
#pragma once
#include <allegro5/allegro.h>

// Type of the user event emitted on the application's wake source: "something changed, draw".
// Only the main loop reads it; all other fields are zero.
#define LUMIKEY_WAKE_EVENT ALLEGRO_GET_EVENT_TYPE('L', 'K', 'W', 'K')

// Asks the main loop for a frame from any thread; source may be null (no loop to wake).
inline void lumikey_wake(ALLEGRO_EVENT_SOURCE *source) {
    if (!source) return;
    ALLEGRO_EVENT ev{};
    ev.user.type = LUMIKEY_WAKE_EVENT;
    al_emit_user_event(source, &ev, nullptr);
}
