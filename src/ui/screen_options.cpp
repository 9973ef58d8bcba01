// src/ui/screen_options.cpp: the options screen. Six tabs (Output, Timing, Colors, Receiver, Key,
// General), only the shown one built; every control writes its setting at once and marks the
// settings changed, and the main loop saves them while nothing plays. The Colors tab edits the
// light colours through a palette popup with a hexadecimal field.
#include "ui/screen_options.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <allegro5/allegro_primitives.h>

#include "audio/tone.hpp"
#include "i18n/i18n.hpp"
#include "main/app.hpp"
#include "morse/decoder.hpp"
#include "phone/torch.hpp"
#include "phone/vibrator.hpp"
#include "support/ka_common.hpp"
#include "ui/ui_colors.hpp"
#include "ui/ui_popup.hpp"

// The user data the toolkit keeps pointers to while the window exists: file scope, refilled at
// every build. Controls beyond a table's size are not created.
struct SLIDER_BIND {
    LUMIKEY_APP *app;
    uint32_t *field;
    int label;           // the caption label above the slider
    const char *caption; // English; translated when shown
    const char *suffix;  // English unit text, or null
    int fmt;             // 0 plain, 1 unit with WPM, 2 seconds
};
struct CHECK_BIND {
    LUMIKEY_APP *app;
    int *flag;
};
struct TAB_BIND {
    LUMIKEY_APP *app;
    int tab;
};
struct SWATCH {
    LUMIKEY_APP *app;
    int row; // colour row >= 0; -1 a palette colour; -2 the popup's current colour
    uint32_t rgb;
};
struct CHANGE_BIND {
    LUMIKEY_APP *app;
    int row;
};

static SLIDER_BIND _sliders[16];
static CHECK_BIND _checks[16];
static TAB_BIND _tabs[6];
static SWATCH _swatches[18];
static CHANGE_BIND _changes[5];
static size_t _slider_count, _check_count, _swatch_count;

struct COLOR_ROW {
    const char *caption;
    uint32_t SETTINGS::*color;
};
static const COLOR_ROW _color_rows[5] = {
    {I18N_TEXT("Dot"), &SETTINGS::color_dot},
    {I18N_TEXT("Dash"), &SETTINGS::color_dash},
    {I18N_TEXT("Gap in a letter"), &SETTINGS::color_gap},
    {I18N_TEXT("Gap between letters"), &SETTINGS::color_letter_gap},
    {I18N_TEXT("Gap between words"), &SETTINGS::color_word_gap},
};

static const uint32_t _palette[12] = {
    0xFFFFFF, 0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00,
    0x00FFFF, 0xFF00FF, 0xFF8000, 0x808080, 0x202020, 0x8000FF,
};

static const uint32_t _fps_values[3] = {15, 30, 60};
static const char *const _lang_codes[6] = {"", "en", "fr", "es", "de", "it"};
// Each language is named in its own words, whatever the interface language; only "System" is
// translated.
static const char *const _lang_names[6] = {I18N_TEXT("System"), "English", "Français",
                                           "Español",           "Deutsch", "Italiano"};

static const char *const _tab_names[6] = {
    I18N_TEXT("Output"),   I18N_TEXT("Timing"), I18N_TEXT("Colors"),
    I18N_TEXT("Receiver"), I18N_TEXT("Key"),    I18N_TEXT("General"),
};

// --- Column layout: items go down one column; on a landscape display the second column takes
// over from the first item that would end below the column's bottom, for good ---

struct LAYOUT {
    LUMIKEY_APP *app;
    int win;
    float pad;
    float x, y, w;  // where the next item goes, and the column width
    float top;      // content top of both columns
    float bottom;   // column bottom
    float second_x; // x of the second column; negative when there is none
    float f;        // heights and gaps are scaled by this to fit a tab into its space
    int dry;        // only measuring: nothing is created
};
static LAYOUT _lay;

static void _layout_begin(LUMIKEY_APP *app, int win, float top, float f, int dry) {
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52);
    _lay = {};
    _lay.app = app;
    _lay.win = win;
    _lay.pad = pad;
    _lay.top = _lay.y = top;
    _lay.bottom = H - bh - app_px(app, 28) - pad;
    _lay.x = pad;
    _lay.f = f;
    _lay.dry = dry;
    if (W > H) {
        _lay.w = (W - 3 * pad) / 2;
        _lay.second_x = 2 * pad + _lay.w;
    } else {
        _lay.w = W - 2 * pad;
        _lay.second_x = -1;
    }
}

// A height of the layout: what it would be, scaled to fit.
static float _v(float h) {
    return roundf(h * _lay.f);
}

// Whether the last item placed ended above the bottom of its column.
static int _layout_fits() {
    return _lay.y <= _lay.bottom + 0.5f;
}

// The top of an item h high; the layout moves on past it.
static float _place(float h) {
    if (_lay.second_x >= 0 && _lay.x != _lay.second_x && _lay.y + h > _lay.bottom) {
        _lay.x = _lay.second_x;
        _lay.y = _lay.top;
    }
    float y = _lay.y;
    _lay.y += h;
    return y;
}

static void _gap(float h) {
    _lay.y += _v(h);
}

// --- Status line ---

static void _set_status(LUMIKEY_APP *app, const char *text) {
    ka_copy_text(app->options_status_text, sizeof app->options_status_text, text);
    if (app->gui) ka_gui_label_set_text(app->gui, app->options_status, text);
    app->redraw = 1;
}

static void _rebuild(LUMIKEY_APP *app) {
    app_set_screen(app, SCREEN_OPTIONS);
}

// --- Controls ---

static void _on_check(int, int checked, void *user) {
    CHECK_BIND *b = (CHECK_BIND *)user;
    *b->flag = checked ? 1 : 0;
    b->app->settings_dirty = 1;
    // The front-camera choice only exists while the overlay is on.
    if (b->flag == &b->app->settings.debug_overlay) _rebuild(b->app);
}

static void _add_check(const char *caption, int *flag) {
    LUMIKEY_APP *app = _lay.app;
    float h = _v(app_px(app, 42));
    float y = _place(h + _v(_lay.pad / 2));
    if (_lay.dry || _check_count >= sizeof _checks / sizeof _checks[0]) return;
    CHECK_BIND *b = &_checks[_check_count++];
    *b = {app, flag};
    ka_gui_add_checkbox(app->gui, _lay.win, i18n_tr(caption), _lay.x, y, _lay.w, h, *flag,
                        _on_check, b);
}

static void _slider_caption(const SLIDER_BIND *b) {
    char text[128];
    uint32_t v = *b->field;
    const char *caption = i18n_tr(b->caption);
    if (b->fmt == 1) {
        snprintf(text, sizeof text, i18n_tr("%s: %u ms (%.1f WPM)"), caption, v,
                 v ? 1200.0 / v : 1200.0);
    } else if (b->fmt == 2) {
        snprintf(text, sizeof text, i18n_tr("%s: %.1f s"), caption, v / 1000.0);
    } else {
        snprintf(text, sizeof text, "%s: %u%s", caption, v, b->suffix ? i18n_tr(b->suffix) : "");
    }
    i18n_decimals(text);
    text[ka_utf8_cut_len(text, sizeof text - 1)] = '\0';
    ka_gui_label_set_text(b->app->gui, b->label, text);
}

static void _on_slider(int, double value, void *user) {
    SLIDER_BIND *b = (SLIDER_BIND *)user;
    *b->field = value > 0 ? (uint32_t)lround(value) : 0;
    _slider_caption(b);
    b->app->settings_dirty = 1;
    b->app->redraw = 1;
}

static void _add_slider(const char *caption, uint32_t *field, double lo, double hi, double step,
                        const char *suffix, int fmt) {
    LUMIKEY_APP *app = _lay.app;
    KA_GUI_CTX *g = app->gui;
    float lh = _v(app_px(app, 30)), sh = _v(app_px(app, 44)), pad = _lay.pad;
    float y = _place(lh + sh + _v(pad / 2));
    if (_lay.dry || _slider_count >= sizeof _sliders / sizeof _sliders[0]) return;
    SLIDER_BIND *b = &_sliders[_slider_count++];
    int label = ka_gui_add_label(g, _lay.win, "", _lay.x, y, _lay.w, lh, KA_GUI_ALIGN_LEFT);
    *b = {app, field, label, caption, suffix, fmt};
    int s = ka_gui_add_slider(g, _lay.win, _lay.x + pad, y + lh, _lay.w - 2 * pad, sh, lo, hi,
                              (double)*field, 0, _on_slider, b);
    ka_gui_slider_set_step(g, s, step);
    ka_gui_slider_set_value_visible(g, s, 0);
    _slider_caption(b);
}

static int _add_label(const char *text, float h, int align) {
    h = _v(h);
    float y = _place(h);
    if (_lay.dry) return -1;
    return ka_gui_add_label(_lay.app->gui, _lay.win, text, _lay.x, y, _lay.w, h, align);
}

// A line of explanation, wrapped onto a second line when the column is too narrow for it.
static int _add_note(const char *text, float h, int align) {
    float need =
        (float)al_get_text_width(_lay.app->font, text) + 2 * _lay.app->gui->style.label_padding;
    if (need <= _lay.w) return _add_label(text, h, align);
    return _add_label(text, 2 * h, KA_GUI_ALIGN_JUSTIFY);
}

static int _add_button(const char *caption, KA_GUI_CLICK_CB cb) {
    LUMIKEY_APP *app = _lay.app;
    float bh = _v(app_px(app, 52));
    float y = _place(bh);
    if (_lay.dry) return -1;
    return ka_gui_add_button(app->gui, _lay.win, i18n_tr(caption), _lay.x, y, _lay.w, bh, 1, cb,
                             app);
}

// --- Swatches ---

static void _draw_swatch(KA_GUI_WIDGET *w, float x, float y, ALLEGRO_FONT *, void *user) {
    const SWATCH *s = (const SWATCH *)user;
    const LUMIKEY_APP *app = s->app;
    uint32_t rgb = s->rgb;
    if (s->row >= 0 && s->row < 5) rgb = app->settings.*_color_rows[s->row].color;
    if (s->row == -2) rgb = app->palette_rgb;
    float r = 6 * app->ui_scale;
    al_draw_filled_rounded_rectangle(x, y, x + w->w, y + w->h, r, r, app_rgb(rgb));
    al_draw_rounded_rectangle(x + 1, y + 1, x + w->w - 1, y + w->h - 1, r, r, app_rgb(UI_DIM_RGB),
                              2);
}

static SWATCH *_add_swatch(int win, int row, uint32_t rgb, float x, float y, float w, float h,
                           int *id) {
    *id = -1;
    if (_swatch_count >= sizeof _swatches / sizeof _swatches[0]) return nullptr;
    SWATCH *s = &_swatches[_swatch_count++];
    *s = {_lay.app, row, rgb};
    *id = ka_gui_add_custom(_lay.app->gui, win, x, y, w, h, _draw_swatch, s);
    return s;
}

// The hex field shows the colour it would replace as its placeholder, and starts empty.
static void _show_picked(LUMIKEY_APP *app) {
    char hex[8];
    settings_format_color(app->palette_rgb, hex);
    ka_gui_textarea_set_text(app->gui, app->palette_hex, "");
    ka_gui_textarea_set_placeholder(app->gui, app->palette_hex, hex);
    app->redraw = 1;
}

// A press is taken without action, so the release on the same swatch picks it.
static int _palette_mouse(int, const KA_GUI_MOUSE_EVENT *ev, void *user) {
    SWATCH *s = (SWATCH *)user;
    if (ev->type == KA_GUI_MOUSE_PRESS) return 1;
    if (ev->type != KA_GUI_MOUSE_RELEASE) return 0;
    s->app->palette_rgb = s->rgb;
    _show_picked(s->app);
    return 1;
}

// --- The palette popup ---

void screen_options_leave(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    decoder_free(&app->key.decoder);
}

int screen_options_close_popup(LUMIKEY_APP *app) {
    __ka_assert(app, return 0);
    if (app->screen != SCREEN_OPTIONS || !app->gui) return 0;
    if (app->palette_win < 0 || !ka_gui_window_is_open(app->gui, app->palette_win)) return 0;
    ka_gui_set_focus(app->gui, -1);
    ka_gui_close_window(app->gui, app->palette_win);
    app->color_target = -1;
    app->redraw = 1;
    return 1;
}

static void _on_hex(int, const char *text, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    uint32_t rgb;
    if (settings_parse_color(text, &rgb)) {
        app->palette_rgb = rgb;
        app->redraw = 1;
    }
}

static void _on_palette_ok(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    uint32_t rgb = app->palette_rgb;
    settings_parse_color(ka_gui_textarea_get_text(app->gui, app->palette_hex), &rgb);
    if (app->color_target >= 0 && app->color_target < 5) {
        app->settings.*_color_rows[app->color_target].color = rgb;
        app->settings_dirty = 1;
    }
    screen_options_close_popup(app);
}

static void _on_palette_cancel(int, void *user) {
    screen_options_close_popup((LUMIKEY_APP *)user);
}

static void _build_palette(LUMIKEY_APP *app) {
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), hb = 1.2f * bh;
    // On a low display the cells shrink until the whole popup, buttons included, is on it.
    float c_max = (H - 9 * pad - 2 * bh - hb) / 3 / 0.6f;
    float pw = fminf(0.9f * W, 4 * c_max + 5 * pad), c = (pw - 5 * pad) / 4, ch = 0.6f * c;
    float hy = 3 * (ch + pad) + pad;
    int win = ui_popup(app, pw, hy + bh + pad + hb + pad + bh + pad);
    if (win < 0) return;
    KA_GUI_WINDOW *pwin = ka_gui_get_window(g, win);
    if (pwin) pwin->y = pad;
    app->palette_win = win;
    for (int j = 0; j < 12; j++) {
        int id;
        SWATCH *s = _add_swatch(win, -1, _palette[j], pad + (float)(j % 4) * (c + pad),
                                pad + (float)(j / 4) * (ch + pad), c, ch, &id);
        if (s) ka_gui_custom_set_mouse(g, id, _palette_mouse, s);
    }
    // The label ends a pad before the field, so the two never touch.
    ka_gui_add_label(g, win, i18n_tr("Hex (#RRGGBB)"), pad, hy, pw / 2 - 2 * pad, bh,
                     KA_GUI_ALIGN_LEFT);
    app->palette_hex =
        ka_gui_add_textarea(g, win, pw / 2, hy, pw / 2 - pad, bh, 0, 7, _on_hex, app);
    int id;
    _add_swatch(win, -2, 0, pad, hy + bh + pad, pw - 2 * pad, hb, &id);
    float bw = (pw - 3 * pad) / 2, by = hy + bh + pad + hb + pad;
    ka_gui_add_button(g, win, i18n_tr("Cancel"), pad, by, bw, bh, 1, _on_palette_cancel, app);
    ka_gui_add_button(g, win, i18n_tr("OK"), 2 * pad + bw, by, bw, bh, 1, _on_palette_ok, app);
}

static void _on_change(int, void *user) {
    CHANGE_BIND *b = (CHANGE_BIND *)user;
    LUMIKEY_APP *app = b->app;
    if (app->palette_win < 0) return;
    app->color_target = b->row;
    app->palette_rgb = app->settings.*_color_rows[b->row].color;
    _show_picked(app);
    ka_gui_open_window(app->gui, app->palette_win);
    ka_gui_raise_window(app->gui, app->palette_win);
}

// --- Actions ---

static void _on_back(int, void *user) {
    app_set_screen((LUMIKEY_APP *)user, SCREEN_HOME);
}

static void _on_tab(int, void *user) {
    TAB_BIND *b = (TAB_BIND *)user;
    b->app->options_tab = b->tab;
    _rebuild(b->app);
}

static void _on_timing_reset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    morse_timing_default(&app->settings.timing);
    app->settings_dirty = 1;
    _rebuild(app);
}

static void _on_colors_reset(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    SETTINGS d;
    settings_default(&d);
    for (const COLOR_ROW &row : _color_rows) app->settings.*row.color = d.*row.color;
    app->settings_dirty = 1;
    app->redraw = 1;
}

static void _on_fps(int, int index, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (index < 0 || index > 2) return;
    app->settings.fps_target = _fps_values[index];
    app->settings_dirty = 1;
}

static void _on_language(int, int index, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (index < 0 || index > 5) return;
    ka_copy_text(app->settings.lang, sizeof app->settings.lang, _lang_codes[index]);
    app->settings_dirty = 1;
    i18n_set_language(app->settings.lang);
    // Every text changes, the status line's included.
    app->options_status_text[0] = '\0';
    _rebuild(app);
}

static void _on_restore_presets(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    int n = app_restore_default_presets(app);
    char text[128];
    if (n == PRESETS_FULL) {
        snprintf(text, sizeof text, i18n_tr("No room: %d presets at most"), PRESETS_MAX);
    } else if (n < 0) {
        ka_copy_text(text, sizeof text, i18n_tr("Could not read the default presets"));
    } else {
        // The list in memory is restored either way; the words say whether the file is too.
        snprintf(text, sizeof text,
                 app_file_unsaved(app, APP_FILE_PRESETS)
                     ? i18n_tr("%d defaults restored, not saved yet")
                     : i18n_tr("%d default presets restored"),
                 n);
    }
    text[ka_utf8_cut_len(text, sizeof text - 1)] = '\0';
    _set_status(app, text);
}

static void _on_measure(int, void *user) {
    LUMIKEY_APP *app = (LUMIKEY_APP *)user;
    if (!torch_measure_start(&app->wake_source)) return;
    // Whatever the measurement ends with, even the failure shown before, is news.
    app->torch_shown = -2;
    _set_status(app, i18n_tr("Measuring... (the flashlight blinks)"));
}

void screen_options_update(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    int r = torch_latency_result();
    if (r == app->torch_shown || r == -2) return;
    app->torch_shown = r;
    if (r < 0) {
        _set_status(app, i18n_tr("Torch latency: not measurable"));
        return;
    }
    app->settings.torch_latency_ms = (uint32_t)r;
    app->settings_dirty = 1;
    char text[96];
    snprintf(text, sizeof text, i18n_tr("Torch latency measured: %d ms"), r);
    text[ka_utf8_cut_len(text, sizeof text - 1)] = '\0';
    _set_status(app, text);
    _rebuild(app); // the slider shows the new value
}

// --- Tab contents ---

static void _page_output(LUMIKEY_APP *app) {
    SETTINGS &s = app->settings;
    int torch = torch_available(), vibrate = vibrator_available();
    _add_check(I18N_TEXT("Screen light"), &s.out_screen);
    if (torch) _add_check(I18N_TEXT("Flashlight"), &s.out_torch);
    if (tone_available()) _add_check(I18N_TEXT("Sound"), &s.out_sound);
    if (vibrate) _add_check(I18N_TEXT("Vibration"), &s.out_vibrate);
    _add_check(I18N_TEXT("Loop until stopped"), &s.loop);
    _gap(_lay.pad);
    _add_slider(I18N_TEXT("Tone"), &s.tone_hz, 400, 1000, 10, I18N_TEXT(" Hz"), 0);
    _add_slider(I18N_TEXT("Sound delay compensation"), &s.audio_latency_ms, 0, 300, 5,
                I18N_TEXT(" ms"), 0);
    if (vibrate)
        _add_slider(I18N_TEXT("Vibration delay compensation"), &s.vibrate_latency_ms, 0, 200, 5,
                    I18N_TEXT(" ms"), 0);
    if (torch) {
        _add_slider(I18N_TEXT("Flashlight delay compensation"), &s.torch_latency_ms, 0, 300, 1,
                    I18N_TEXT(" ms"), 0);
        _add_button(I18N_TEXT("Measure flashlight delay"), _on_measure);
    }
}

static void _page_timing(LUMIKEY_APP *app) {
    MORSE_TIMING &t = app->settings.timing;
    float bh = app_px(app, 52);
    _add_slider(I18N_TEXT("Unit (dot length)"), &t.unit_ms, 20, 400, 5, nullptr, 1);
    _add_slider(I18N_TEXT("Dash length"), &t.dash_units, 2, 6, 1, I18N_TEXT(" units"), 0);
    _add_slider(I18N_TEXT("Gap between letters"), &t.letter_gap_units, 2, 10, 1,
                I18N_TEXT(" units"), 0);
    _add_slider(I18N_TEXT("Gap between words"), &t.word_gap_units, 4, 20, 1, I18N_TEXT(" units"),
                0);
    _gap(_lay.pad);
    _add_note(i18n_tr("Standard: dash 3, letter gap 3, word gap 7 units"), 0.6f * bh,
              KA_GUI_ALIGN_LEFT);
    _gap(_lay.pad);
    _add_button(I18N_TEXT("Reset to defaults"), _on_timing_reset);
}

static void _page_colors(LUMIKEY_APP *app) {
    KA_GUI_CTX *g = app->gui;
    float bh = app_px(app, 52), pad = _lay.pad, cw = app_px(app, 110);
    _add_label(i18n_tr("Screen light colours"), 0.7f * bh, KA_GUI_ALIGN_LEFT);
    _gap(pad);
    for (int r = 0; r < 5; r++) {
        float rh = _v(bh), y = _place(rh);
        _gap(pad);
        if (_lay.dry) continue;
        int id;
        _add_swatch(_lay.win, r, 0, _lay.x, y, rh, rh, &id);
        ka_gui_add_label(g, _lay.win, i18n_tr(_color_rows[r].caption), _lay.x + rh + pad, y,
                         _lay.w - rh - cw - 2 * pad, rh, KA_GUI_ALIGN_LEFT);
        _changes[r] = {app, r};
        ka_gui_add_button(g, _lay.win, i18n_tr("Change"), _lay.x + _lay.w - cw, y, cw, rh, 1,
                          _on_change, &_changes[r]);
    }
    _gap(pad);
    _add_button(I18N_TEXT("Reset colours"), _on_colors_reset);
}

static void _page_receiver(LUMIKEY_APP *app) {
    SETTINGS &s = app->settings;
    float bh = app_px(app, 52);
    _add_slider(I18N_TEXT("Detection area"), &s.roi_pct, 5, 50, 1, I18N_TEXT(" %"), 0);
    _add_slider(I18N_TEXT("End of message after"), &s.eom_timeout_ms, 1000, 15000, 500, nullptr, 2);
    if (torch_available())
        _add_slider(I18N_TEXT("Flashlight delay while receiving"), &s.duplex_torch_latency_ms, 0,
                    500, 5, I18N_TEXT(" ms"), 0);
    _add_check(I18N_TEXT("Debug overlay"), &s.debug_overlay);
    if (s.debug_overlay) _add_check(I18N_TEXT("Receive with the front camera"), &s.rx_front_camera);
    _add_note(i18n_tr("Camera frame rate"), 0.6f * bh, KA_GUI_ALIGN_LEFT);
    float y = _place(_v(bh));
    if (_lay.dry) return;
    int box = ka_gui_add_combobox(app->gui, _lay.win, _lay.x, y, _lay.w, _v(bh), _on_fps, app);
    int selected = 1;
    for (int i = 0; i < 3; i++) {
        char item[32];
        snprintf(item, sizeof item, i18n_tr("%u fps"), _fps_values[i]);
        ka_gui_combobox_add_item(app->gui, box, item);
        if (_fps_values[i] == s.fps_target) selected = i;
    }
    ka_gui_combobox_set_selected(app->gui, box, selected);
}

static void _page_key(LUMIKEY_APP *app) {
    SETTINGS &s = app->settings;
    _add_check(I18N_TEXT("Iambic mode B (paddles)"), &s.key_iambic_b);
    _add_check(I18N_TEXT("Decode taps at the set speed"), &s.key_fixed_speed);
    _add_slider(I18N_TEXT("Bounce filter"), &s.key_bounce_ms, 5, 50, 1, I18N_TEXT(" ms"), 0);
    _add_label(i18n_tr("The key uses the outputs and the unit chosen in Output and Timing."),
               1.4f * app_px(app, 52), KA_GUI_ALIGN_JUSTIFY);
}

static void _page_general(LUMIKEY_APP *app) {
    SETTINGS &s = app->settings;
    float bh = app_px(app, 52), pad = _lay.pad;
    _add_label(i18n_tr("Language"), 0.6f * bh, KA_GUI_ALIGN_LEFT);
    float y = _place(_v(bh));
    if (!_lay.dry) {
        int box =
            ka_gui_add_combobox(app->gui, _lay.win, _lay.x, y, _lay.w, _v(bh), _on_language, app);
        int selected = 0;
        for (int i = 0; i < 6; i++) {
            ka_gui_combobox_add_item(app->gui, box,
                                     i == 0 ? i18n_tr(_lang_names[0]) : _lang_names[i]);
            if (i > 0 && strcmp(s.lang, _lang_codes[i]) == 0) selected = i;
        }
        ka_gui_combobox_set_selected(app->gui, box, selected);
    }
    _gap(2 * pad);
    _add_check(I18N_TEXT("Keep the screen on"), &s.keep_screen_on);
    _add_check(I18N_TEXT("Keep running when locked"), &s.run_locked);
    _gap(pad);
    _add_button(I18N_TEXT("Restore default presets"), _on_restore_presets);
    _gap(pad);
    _add_note(i18n_tr("Your own presets are kept."), 0.6f * bh, KA_GUI_ALIGN_LEFT);
    _add_note(i18n_tr("Defaults follow the language."), 0.6f * bh, KA_GUI_ALIGN_LEFT);
    _gap(3 * pad);
    _add_label("Lumikey v" LUMIKEY_VERSION, 0.6f * bh, KA_GUI_ALIGN_CENTER);
    _add_note(i18n_tr("Morse code by light, sound and vibration"), 0.6f * bh, KA_GUI_ALIGN_CENTER);
}

// --- Layout ---

void screen_options_build(LUMIKEY_APP *app) {
    __ka_assert(app, return );
    __ka_assert(app->gui, return );
    KA_GUI_CTX *g = app->gui;
    float W = (float)app->disp_w, H = (float)app->disp_h;
    float pad = app_px(app, 12), bh = app_px(app, 52), back_w = app_px(app, 110);
    if (app->options_tab < 0 || app->options_tab > 5) app->options_tab = 0;
    // A status belongs to the visit that caused it, not to the next one.
    if (app->built_screen != SCREEN_OPTIONS) app->options_status_text[0] = '\0';
    _slider_count = _check_count = _swatch_count = 0;

    int win = app_add_fixed_window(app, "Options", 0, 0, W, H);
    if (win < 0) return;
    ka_gui_add_button(g, win, i18n_tr("Back"), pad, pad, back_w, bh, 1, _on_back, app);
    ka_gui_add_label(g, win, i18n_tr("Options"), back_w + 2 * pad, pad, W - 2 * back_w - 4 * pad,
                     bh, KA_GUI_ALIGN_CENTER);

    // A landscape display keeps its little height for the controls: one line of tabs.
    int per_line = 6 * app_px(app, 160) > W && W <= H ? 3 : 6;
    float tw = per_line == 3 ? (W - 4 * pad) / 3 : (W - 7 * pad) / 6;
    float line_top = 2 * pad + bh;
    for (int j = 0; j < 6; j++) {
        line_top = 2 * pad + bh + (float)(j / per_line) * (0.5f * pad + bh);
        _tabs[j] = {app, j};
        ka_gui_add_toggle_button(g, win, i18n_tr(_tab_names[j]),
                                 pad + (float)(j % per_line) * (tw + pad), line_top, tw, bh, 1,
                                 j == app->options_tab, _on_tab, &_tabs[j]);
    }

    // A tab with more controls than room (a phone's outputs, a landscape display, a longer
    // translation) is measured first and then built with its heights and gaps narrowed, down
    // to 70 %, where a caption still has the height of its line.
    static void (*const pages[6])(LUMIKEY_APP *) = {_page_output,   _page_timing, _page_colors,
                                                    _page_receiver, _page_key,    _page_general};
    float f = 1;
    for (int k = 0; k <= 6; k++) {
        f = 1 - 0.05f * (float)k;
        _layout_begin(app, win, line_top + 2 * pad + bh, f, 1);
        pages[app->options_tab](app);
        if (_layout_fits()) break;
    }
    _layout_begin(app, win, line_top + 2 * pad + bh, f, 0);
    pages[app->options_tab](app);

    app->options_status =
        ka_gui_add_label(g, win, app->options_status_text, pad, H - bh - app_px(app, 28),
                         W - 2 * pad, bh, KA_GUI_ALIGN_CENTER);
    app->torch_shown = torch_latency_result();
    ka_gui_open_window(g, win);
    app->color_target = -1;
    app->palette_win = -1;
    app->palette_hex = -1;
    if (app->options_tab == 2) _build_palette(app);
}
