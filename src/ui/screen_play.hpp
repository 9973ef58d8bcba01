// src/ui/screen_play.hpp: the play screen, where the whole display is the light of a send, and
// the screen-light channel that the player drives from its own thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>

#include "morse/player.hpp"

struct LUMIKEY_APP;

// Most recent light edges kept; older ones are overwritten.
constexpr size_t SCREEN_LIGHT_EDGES = 512;

// What the player thread tells the main thread about the light. Written by the player thread
// only, read by the main thread without a lock: every single word goes through std::atomic_ref,
// and an edge's slot is written before edge_count publishes it.
struct SCREEN_LIGHT {
    size_t index; // current event of the playing sequence; SIZE_MAX when none
    uint32_t rep; // repetition that started last
    int stopped;  // the player has stopped this channel
    int finished; // the stop was the natural end
    ALLEGRO_EVENT_SOURCE *wake;
    uint64_t edge_ns[SCREEN_LIGHT_EDGES]; // CLOCK_MONOTONIC
    uint8_t edge_on[SCREEN_LIGHT_EDGES];
    size_t edge_count; // edges since start; edge n sits in slot n % SCREEN_LIGHT_EDGES
};

// The light channel of a send ("screen", lead 0), reset for a new send; the edge ring is kept.
PLAYER_CHANNEL screen_light_channel(LUMIKEY_APP *app);
// Snapshot reads for the main thread (and the receive screen's trace).
size_t screen_light_index(const SCREEN_LIGHT *light);
int screen_light_stopped(const SCREEN_LIGHT *light);
size_t screen_light_edge_count(const SCREEN_LIGHT *light);
// Copies up to max of the latest edges, oldest first; the number copied.
size_t screen_light_edges(const SCREEN_LIGHT *light, uint64_t *ns, uint8_t *on, size_t max);

// Builds the bottom panel with "Stop" (and "Save as preset" for a typed message).
void screen_play_build(LUMIKEY_APP *app);
// Clears the whole display to the colour of the element being sent.
void screen_play_draw(LUMIKEY_APP *app);
// Draws the message, the current letter's symbols, the progress bar and the status line.
void screen_play_draw_overlay(LUMIKEY_APP *app);
// The colour screen_play_draw clears to now, 0xRRGGBB.
uint32_t screen_play_light_rgb(LUMIKEY_APP *app);
// The height of the bottom panel at the current display size and fonts.
float screen_play_panel_h(LUMIKEY_APP *app);
