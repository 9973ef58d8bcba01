// src/model/settings.hpp: the user's preferences (timing, outputs, colours, tone, latencies,
// receiver, screen, language, hand key), their limits and their file "settings.json".
#pragma once
#include <cstdint>

#include "morse/sequencer.hpp"

// How the key screen's pad is used; stored as key_mode.
enum KEY_MODE {
    KEY_MODE_SEND = 0,
    KEY_MODE_TRANSCRIBE = 1,
    KEY_MODE_PADDLES = 2,
};

// Flags (int) hold exactly 0 or 1 after settings_sanitize.
struct SETTINGS {
    MORSE_TIMING timing;
    int loop;
    int out_screen;
    int out_torch;
    int out_sound;
    int out_vibrate;
    uint32_t color_dot; // 0xRRGGBB
    uint32_t color_dash;
    uint32_t color_gap;
    uint32_t color_letter_gap;
    uint32_t color_word_gap;
    uint32_t tone_hz;                 // 400 to 1000
    uint32_t audio_latency_ms;        // lead time of the sound, at most 500
    uint32_t torch_latency_ms;        // lead time of the flashlight, at most 500
    uint32_t vibrate_latency_ms;      // lead time of the vibration, at most 500
    uint32_t duplex_torch_latency_ms; // flashlight lead while the camera runs, at most 500
    uint32_t roi_pct;                 // camera region of interest, 5 to 50 percent
    uint32_t eom_timeout_ms;          // silence that ends a message, 1000 to 15000
    int debug_overlay;
    int rx_front_camera;
    // The webcam chosen by name: its name and where it is plugged in (camera_desktop_key); ""
    // until one is chosen, when rx_front_camera picks the first or the second webcam.
    char rx_camera[128];
    uint32_t fps_target; // 15, 30 or 60
    int keep_screen_on;
    int run_locked;
    char lang[8];      // "", "en", "fr", "es", "de" or "it"; "" = the system language
    uint32_t key_mode; // KEY_MODE, 0 to 2
    int key_iambic_b;
    int key_fixed_speed;
    uint32_t key_bounce_ms; // 5 to 50
};

// Fills every field with its default.
void settings_default(SETTINGS *s);
// Brings every field into its range (timing first); out-of-range values take the nearest bound.
void settings_sanitize(SETTINGS *s);
// The screen-light colour for a MORSE_STATE; 0 for a null s.
uint32_t settings_color_for(const SETTINGS *s, int state);
// Writes "#RRGGBB" (upper case) of the low 24 bits into out (8 bytes).
void settings_format_color(uint32_t rgb, char *out);
// Parses "#RRGGBB", "RRGGBB", "#RGB" or "RGB" with optional spaces around. 1 and *rgb set on
// success; 0 and *rgb untouched otherwise.
int settings_parse_color(const char *text, uint32_t *rgb);
// The "settings.json" text (caller frees), or null.
char *settings_to_json(const SETTINGS *s);
// Applies the well-typed members of a "settings.json" text on top of *s and sanitises. 1, or 0
// when the text is not a JSON object (*s is then untouched).
int settings_from_json(SETTINGS *s, const char *json);
