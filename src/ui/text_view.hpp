// src/ui/text_view.hpp: a scrollable custom widget showing up to 8 paragraphs of centred,
// wrapped text, each in its own font and colour. It follows the end of the text, so new decoded
// text stays in sight, until the user scrolls back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro_font.h>

struct LUMIKEY_APP;

struct TEXT_PARA {
    ALLEGRO_FONT *font; // null: the widget's font
    uint32_t rgb;       // 0xRRGGBB
    const char *text;   // UTF-8, not owned; valid until the draw that asked for it has finished
};

// Writes up to max paragraphs into zeroed records; returns how many it wrote.
typedef size_t (*TEXT_VIEW_FILL)(void *user, TEXT_PARA *paras, size_t max);

// One view. It lives in the application record, so scroll and follow outlive GUI rebuilds.
struct TEXT_VIEW {
    LUMIKEY_APP *app; // null until the first add
    TEXT_VIEW_FILL fill;
    void *user;
    float scroll; // pixels from the top of the content
    float content_h;
    float view_h;
    int follow; // 1: keep the end of the text in sight
    int pressing;
    int moved;
    float down_y;
    float down_scroll;
    int widget_id;
};

// Adds the view as a custom widget of window win (following the end on its first add). The
// widget id, negative on failure.
int text_view_add(LUMIKEY_APP *app, TEXT_VIEW *v, int win, float x, float y, float w, float h,
                  TEXT_VIEW_FILL fill, void *user);
// Back to the top in following mode, for when the text behind the view is cleared.
void text_view_reset(TEXT_VIEW *v);
