// src/platform/wake_event.hpp: the one user event worker threads send to the main loop.
#pragma once
#include <allegro5/allegro.h>

// Type of the user event emitted on the application's wake source: "something changed, draw".
// Only the main loop reads it; all other fields are zero.
#define LUMIKEY_WAKE_EVENT ALLEGRO_GET_EVENT_TYPE('L', 'K', 'W', 'K')
