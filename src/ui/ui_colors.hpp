// src/ui/ui_colors.hpp: the interface's colours, named once for every screen (0xRRGGBB, turned
// into Allegro colours by app_rgb). The screen light's colours are the user's, in SETTINGS.
#pragma once
#include <cstdint>

// Surfaces, darkest first
constexpr uint32_t UI_BACKGROUND_RGB = 0x101218; // behind every window
constexpr uint32_t UI_PANEL_RGB = 0x14161C;      // the play screen's panel under the light
constexpr uint32_t UI_CARD_RGB = 0x1C1F27;       // list cards, the key pad at rest, the preview
constexpr uint32_t UI_LIGHT_OFF_RGB = 0x20232B;  // the play screen with the screen output off
constexpr uint32_t UI_POPUP_RGB = 0x262A34;      // popups
constexpr uint32_t UI_TRACK_RGB = 0x2C303A;      // progress and level tracks
constexpr uint32_t UI_PRESSED_RGB = 0x2E3442;    // a pressed card, the key pad held
constexpr uint32_t UI_LAMP_OFF_RGB = 0x303540;   // a lamp that is off
constexpr uint32_t UI_RULE_RGB = 0x4A5060;       // scroll bars, chart frames

// Text and marks
constexpr uint32_t UI_TEXT_RGB = 0xE8EAF0;
constexpr uint32_t UI_DIM_RGB = 0x7A8090;    // secondary text, outlines, what was sent already
constexpr uint32_t UI_ACCENT_RGB = 0xFFD54A; // what is happening now: the current letter, a held
                                             // paddle, headers, the receive lamp, popup borders
constexpr uint32_t UI_GOOD_RGB = 0x00E676;   // a finished or saved message
constexpr uint32_t UI_WARN_RGB = 0xFFB74D;
constexpr uint32_t UI_SEND_RGB = 0xFF5252; // the send lamp

// Practice: a character copied right or wrong, and the progress charts
constexpr uint32_t UI_RIGHT_RGB = 0x5CD65C; // also a character at the pass mark or above
constexpr uint32_t UI_WRONG_RGB = 0xFF5A4F; // wrong, missed or extra
constexpr uint32_t UI_WEAK_RGB = 0xFF7A4F;  // a character below the pass mark
constexpr uint32_t UI_CHART_TEXT_RGB = 0xB8B8C4;
constexpr uint32_t UI_CHART_PASS_RGB = 0x6A6A3A;  // the line at the lesson's pass mark
constexpr uint32_t UI_CHART_POINT_RGB = 0x4FC3F7; // accuracy of a session
constexpr uint32_t UI_CHART_TIME_RGB = 0xB39DDB;  // minutes of a day
constexpr uint32_t UI_CHART_SCORE_RGB = 0x3F7F4A; // a send's score, behind its two lines
constexpr uint32_t UI_CHART_SPEED_RGB = 0x4FC3F7; // a send's keyed speed
constexpr uint32_t UI_CHART_OFF_RGB = 0xFF8A65;   // how far a send's timing strays

// The receive screen's level meter: the band of the signal and that of the noise
constexpr uint32_t UI_BAND_SIGNAL_RGB = 0x3D4B6B;
constexpr uint32_t UI_BAND_NOISE_RGB = 0x3A3A3A;
