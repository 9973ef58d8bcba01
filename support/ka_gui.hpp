// support/ka_gui.hpp: the GUI toolkit every screen is built on. One context holds z-ordered
// windows, each window holds widgets; both are addressed by integer ids numbered from 1 in each
// context, -1 means none or failure, and an id that names nothing is ignored by every call.
// All calls belong to the main thread.
#pragma once
#include <cstddef>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

struct HASH_TABLE;

// Colours and metrics of one window or widget; each holds its own copy.
struct KA_GUI_THEME {
    ALLEGRO_COLOR bg_normal, bg_hover, bg_active;
    ALLEGRO_COLOR border_normal, border_hover, border_active;
    ALLEGRO_COLOR text_normal, text_hover, text_active;
    float border_thickness;
    float corner_rx, corner_ry;
    ALLEGRO_COLOR selection_color;
};

// Metrics shared by every widget of a context.
struct KA_GUI_STYLE {
    float titlebar_h, min_win_w, min_win_h, title_padding, title_max_w_reserve;
    float tb_btn_size, tb_btn_spacing, tb_btn_right_margin, tb_btn_glyph_thickness;
    float scrollbar_size, scrollbar_thumb_min, scrollbar_thumb_padding, scrollbar_thumb_corner_r;
    ALLEGRO_COLOR scrollbar_track_color, scrollbar_thumb_color;
    float global_scrollbar_size, global_scrollbar_thumb_min, global_scrollbar_thumb_padding;
    float global_scrollbar_thumb_corner_r, global_scrollbar_border_thickness;
    ALLEGRO_COLOR global_scrollbar_track_color, global_scrollbar_thumb_color;
    ALLEGRO_COLOR global_scrollbar_thumb_border_color;
    float grip_size, grip_line_thickness;
    ALLEGRO_COLOR grip_color;
    float slider_track_size, slider_track_corner_r, slider_track_border_thickness;
    float slider_handle_min_r, slider_handle_edge_offset, slider_handle_border_thickness;
    float slider_value_label_offset;
    float tooltip_delay;
    ALLEGRO_COLOR tooltip_bg, tooltip_border, tooltip_fg;
    float tooltip_max_w;
    float textarea_padding, textarea_cursor_width, textarea_cursor_blink_period;
    float checkbox_max_size, checkbox_mark_margin, checkbox_mark_thickness;
    float checkbox_label_gap, checkbox_label_offset;
    float radio_circle_min_r, radio_circle_border_thickness, radio_inner_offset, radio_label_gap;
    float listbox_default_item_height, radiolist_default_item_height;
    int combobox_max_visible, dropmenu_max_visible;
    float item_text_padding, item_selection_inset, item_height_pad;
    float dropdown_arrow_reserve, dropdown_arrow_thickness, dropdown_arrow_half_h;
    float dropdown_arrow_half_w, dropdown_border_thickness;
    int shape_mode; // 1 round everything, 0 nothing, -1 only buttons of shape 1
    float label_padding, link_underline_thickness;
    ALLEGRO_COLOR link_color_normal, link_color_hover;
    float scroll_step, global_scroll_step, combobox_max_dropdown_width;
};

// Window flags.
#define KA_GUI_WIN_AUTO_SCROLLBAR 16
#define KA_GUI_WIN_RESIZABLE 32
#define KA_GUI_WIN_FIXED_POSITION 64
#define KA_GUI_WIN_FRAMELESS 128

// Window state bits.
#define KA_GUI_WIN_OPEN 1
#define KA_GUI_WIN_MINIMISED 2
#define KA_GUI_WIN_DRAGGING 4
#define KA_GUI_WIN_RESIZING 8

// Z-order modes.
#define KA_GUI_ZORDER_NORMAL 0
#define KA_GUI_ZORDER_ALWAYS_ON_TOP 1
#define KA_GUI_ZORDER_ALWAYS_BEHIND 2
#define KA_GUI_ZORDER_FIXED 3
#define KA_GUI_ZORDER_POPUP 4

// Widget types (only those the program uses have behaviour).
#define KA_GUI_BUTTON 1
#define KA_GUI_SLIDER 2
#define KA_GUI_TEXTAREA 3
#define KA_GUI_CHECKBOX 4
#define KA_GUI_SCROLLBAR 5
#define KA_GUI_LISTBOX 6
#define KA_GUI_RADIOLIST 7
#define KA_GUI_COMBOBOX 8
#define KA_GUI_IMAGE 9
#define KA_GUI_LABEL 10
#define KA_GUI_DROPMENU 11
#define KA_GUI_SPLITPANE 12
#define KA_GUI_HEXVIEW 13
#define KA_GUI_SYNTAXVIEW 14
#define KA_GUI_DATAGRID 15
#define KA_GUI_PROGRESSBAR 16
#define KA_GUI_CUSTOM 17
#define KA_GUI_MARKDOWN 18

// Widget state bits.
#define KA_GUI_STATE_HOVER 1
#define KA_GUI_STATE_PRESSED 2
#define KA_GUI_STATE_FOCUSED 4
#define KA_GUI_STATE_SB_DRAG 8

// Label alignment.
#define KA_GUI_ALIGN_LEFT 0
#define KA_GUI_ALIGN_CENTER 1
#define KA_GUI_ALIGN_RIGHT 2
#define KA_GUI_ALIGN_JUSTIFY 3

// Custom widget mouse event types.
#define KA_GUI_MOUSE_PRESS 1
#define KA_GUI_MOUSE_RELEASE 2
#define KA_GUI_MOUSE_MOVE 3
#define KA_GUI_MOUSE_DRAG 4
#define KA_GUI_MOUSE_WHEEL 5

#define KA_GUI_TITLE_SIZE 128
#define KA_GUI_LABEL_SIZE 128
#define KA_GUI_TEXT_SIZE 4096

struct KA_GUI_WIDGET;

// What a custom widget's mouse callback receives; x, y relative to the widget's corner.
struct KA_GUI_MOUSE_EVENT {
    int type;
    int button;
    float x, y;
    int dz;
    int modifiers;
};

typedef void (*KA_GUI_CLICK_CB)(int id, void *user_data);
typedef void (*KA_GUI_SLIDER_CB)(int id, double value, void *user_data);
typedef void (*KA_GUI_TOGGLE_CB)(int id, int checked, void *user_data);
typedef void (*KA_GUI_SELECT_CB)(int id, int index, void *user_data);
typedef void (*KA_GUI_TEXT_CB)(int id, const char *text, void *user_data);
typedef void (*KA_GUI_CUSTOM_DRAW_CB)(KA_GUI_WIDGET *widget, float x, float y, ALLEGRO_FONT *font,
                                      void *user_data);
typedef int (*KA_GUI_CUSTOM_MOUSE_CB)(int id, const KA_GUI_MOUSE_EVENT *event, void *user_data);
typedef void (*KA_GUI_DESTROY_CB)(void *user_data);
typedef void (*KA_GUI_SUGGEST_CB)(const char *prefix, void *user_data);

// Geometry of one of a widget's own scrollbars, filled while drawing.
struct KA_GUI_SB_TRACK {
    float x, y, w, h;
    int hovered;
};

struct KA_GUI_WIDGET {
    int id;
    int type;
    float x, y, w, h; // relative to the window's content origin
    int state;
    KA_GUI_SB_TRACK sb_v, sb_h;
    int visible, enabled;
    KA_GUI_THEME theme;
    ALLEGRO_FONT *font; // null: the context's default font
    void *data;         // the type's own record, owned
    char *tooltip;
    char persist_key[KA_GUI_TITLE_SIZE];
    float norm_x, norm_y, norm_w, norm_h; // the rectangle as fractions of the window size
    int window_id;                        // the window that owns the widget
};

struct KA_GUI_BUTTON_DATA {
    char label[KA_GUI_LABEL_SIZE];
    ALLEGRO_BITMAP *bitmap, *bitmap_hover, *bitmap_active;
    int shape;
    int glyph;
    int toggle_mode;
    int toggled;
    int keycode, key_modifiers, key_focus_only, key_sources[8];
    double key_press_until; // a keyboard activation shows the pressed look until then
    KA_GUI_CLICK_CB on_click;
    void *user_data;
};

struct KA_GUI_SLIDER_DATA {
    double min_val, max_val, value, step, key_step;
    int mode;        // 0 raw range, 1 percent (0..100)
    int orientation; // 0 horizontal, 1 vertical
    ALLEGRO_BITMAP *bitmaps[5];
    KA_GUI_SLIDER_CB on_change;
    void *user_data;
    char value_format[32];
    int value_visible;
    int has_default;
    double default_value;
};

struct KA_GUI_TEXTAREA_DATA {
    char *text; // char_limit + 1 bytes, never holds a carriage return
    size_t text_len;
    size_t text_alloc;
    size_t char_limit; // most bytes of text
    int multiline;
    size_t cursor_pos, sel_start, sel_end; // byte offsets; empty selection when equal
    int scroll_y;
    float scroll_x;
    int scroll_from_wheel;
    double cursor_time; // when the cursor blink restarted
    ALLEGRO_BITMAP *bg_bitmap;
    int mask_char;
    char *placeholder;
    KA_GUI_TEXT_CB on_change;
    void *user_data;
    KA_GUI_SUGGEST_CB suggest;
    void *suggest_user_data;
    char *suggest_separators;
    char **suggest_items;
    int suggest_count, suggest_highlight, suggest_scroll, suggest_open;
    char *suggest_prefix;
};

struct KA_GUI_CHECKBOX_DATA {
    char label[KA_GUI_LABEL_SIZE];
    int checked;
    ALLEGRO_BITMAP *bitmaps[3];
    KA_GUI_TOGGLE_CB on_toggle;
    void *user_data;
};

struct KA_GUI_LISTITEM {
    char text[KA_GUI_LABEL_SIZE];
    int selected;
};

struct KA_GUI_COMBOBOX_DATA {
    KA_GUI_LISTITEM *items;
    size_t nb_items, items_capacity;
    int selected_index; // -1 none
    int is_open;
    int scroll_offset;   // first item shown in the open list
    int highlight_index; // -1 none
    float item_height;
    int max_visible;
    ALLEGRO_BITMAP *bitmaps[3];
    KA_GUI_SELECT_CB on_select;
    void *user_data;
    int flags;
};

struct KA_GUI_LABEL_DATA {
    char text[KA_GUI_TEXT_SIZE]; // carriage returns removed
    char link[KA_GUI_TEXT_SIZE];
    int align;
    int truncate;
    float scroll_y;
    int sel_start, sel_end; // mouse selection, -1 none
    int sel_dragging;
    ALLEGRO_BITMAP *bg_bitmap;
    KA_GUI_CLICK_CB on_link_click;
    void *user_data;
};

struct KA_GUI_CUSTOM_DATA {
    KA_GUI_CUSTOM_DRAW_CB draw;
    void *user_data;
    KA_GUI_CUSTOM_MOUSE_CB on_mouse;
    void *mouse_user_data;
    KA_GUI_DESTROY_CB destroy; // called with user_data when the widget is destroyed
};

struct KA_GUI_WINDOW {
    int id;
    char title[KA_GUI_TITLE_SIZE];
    float x, y, w, h; // outer rectangle in display coordinates
    float titlebar_h;
    int state;
    int flags;
    KA_GUI_WIDGET **widgets; // insertion order = drawing order
    size_t nb_widgets, widgets_capacity;
    KA_GUI_THEME theme;
    ALLEGRO_FONT *font;
    float scroll_x, scroll_y;
    int z_order;
    int z_value;
    float min_w, min_h; // smallest size a resize may leave
};

struct KA_GUI_CTX {
    KA_GUI_WINDOW **windows; // back-to-front order
    size_t nb_windows, windows_capacity;
    HASH_TABLE *widgets_by_id; // widget id as "%d" -> widget record
    int next_widget_id;
    int next_window_id;
    ALLEGRO_FONT *default_font;
    KA_GUI_THEME default_theme;
    int focused_widget_id;
    int mouse_x, mouse_y;
    int mouse_b1, mouse_b1_prev;
    int click_widget_id;
    double click_time;
    int click_x, click_y;
    double double_click_time;
    int double_click_radius;
    int open_combobox_id;
    float display_w, display_h;
    int display_size_set, display_size_warned;
    float global_scroll_x, global_scroll_y;
    float virtual_w, virtual_h, gui_scale, gui_offset_x, gui_offset_y;
    KA_GUI_STYLE style;
    ALLEGRO_DISPLAY *display;
    int resize_mode;
    int dirty;
    double anim_until;
    int held_modifier_keys;
    int event_depth;     // nesting of ka_gui_process_event calls (callbacks may feed events)
    int destroy_pending; // destroyed by a callback; freed when the outermost call returns
};

// The default colours and metrics every new context starts with.
KA_GUI_THEME ka_gui_default_theme();
KA_GUI_STYLE ka_gui_default_style();

// Context.
KA_GUI_CTX *ka_gui_new_ctx(ALLEGRO_FONT *default_font);
// Destroys windows and widgets (calling custom destroy hooks once); the last context to go
// takes the clipboard service down with it.
void ka_gui_destroy_ctx(KA_GUI_CTX **ctx);
void ka_gui_set_display(KA_GUI_CTX *ctx, ALLEGRO_DISPLAY *display);
void ka_gui_set_display_size(KA_GUI_CTX *ctx, float w, float h);
// 1 when a frame should be drawn: dirty, animating, or a text area's cursor blinks.
int ka_gui_needs_redraw(KA_GUI_CTX *ctx);
// Draws every open window back to front and clears the dirty mark.
void ka_gui_draw(KA_GUI_CTX *ctx);
// Hands one Allegro event to the toolkit; 1 when it was used.
int ka_gui_process_event(KA_GUI_CTX *ctx, ALLEGRO_EVENT event);
int ka_gui_get_focus(KA_GUI_CTX *ctx);
void ka_gui_set_focus(KA_GUI_CTX *ctx, int widget_id);

// Windows.
int ka_gui_add_window(KA_GUI_CTX *ctx, const char *title, float x, float y, float w, float h);
KA_GUI_WINDOW *ka_gui_get_window(KA_GUI_CTX *ctx, int id);
void ka_gui_window_set_flags(KA_GUI_CTX *ctx, int id, int flags);
void ka_gui_window_set_zorder(KA_GUI_CTX *ctx, int id, int z_mode, int z_value);
void ka_gui_open_window(KA_GUI_CTX *ctx, int id);
// Closing the window that holds the focus clears the focus.
void ka_gui_close_window(KA_GUI_CTX *ctx, int id);
int ka_gui_window_is_open(KA_GUI_CTX *ctx, int id);
// Brings a normal or popup window to the front of its group; other modes stay in place.
void ka_gui_raise_window(KA_GUI_CTX *ctx, int id);
// A set scale flag makes that axis of every widget follow the window's new size.
void ka_gui_window_set_rect_axes(KA_GUI_CTX *ctx, int id, float x, float y, float w, float h,
                                 int scale_x, int scale_y);

// Widgets: each add returns the new id or -1.
int ka_gui_add_button(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y, float w,
                      float h, int shape, KA_GUI_CLICK_CB on_click, void *user_data);
int ka_gui_add_toggle_button(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y,
                             float w, float h, int shape, int initial_state,
                             KA_GUI_CLICK_CB on_click, void *user_data);
int ka_gui_add_slider(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                      double min_val, double max_val, double initial, int mode,
                      KA_GUI_SLIDER_CB on_change, void *user_data);
int ka_gui_add_textarea(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                        int multiline, size_t char_limit, KA_GUI_TEXT_CB on_change,
                        void *user_data);
int ka_gui_add_checkbox(KA_GUI_CTX *ctx, int window_id, const char *label, float x, float y,
                        float w, float h, int initial_checked, KA_GUI_TOGGLE_CB on_toggle,
                        void *user_data);
int ka_gui_add_combobox(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                        KA_GUI_SELECT_CB on_select, void *user_data);
int ka_gui_add_label(KA_GUI_CTX *ctx, int window_id, const char *text, float x, float y, float w,
                     float h, int align);
int ka_gui_add_custom(KA_GUI_CTX *ctx, int window_id, float x, float y, float w, float h,
                      KA_GUI_CUSTOM_DRAW_CB draw, void *user_data);

// Setters and getters: the wrong widget type, or an id that names nothing, does nothing.
KA_GUI_WIDGET *ka_gui_get_widget(KA_GUI_CTX *ctx, int id);
void ka_gui_widget_set_rect(KA_GUI_CTX *ctx, int id, float x, float y, float w, float h);
void ka_gui_button_set_label(KA_GUI_CTX *ctx, int id, const char *label);
void ka_gui_slider_set_step(KA_GUI_CTX *ctx, int id, double step);
void ka_gui_slider_set_value_visible(KA_GUI_CTX *ctx, int id, int visible);
// The text area's buffer (valid until the next change), or "".
const char *ka_gui_textarea_get_text(KA_GUI_CTX *ctx, int id);
void ka_gui_textarea_set_text(KA_GUI_CTX *ctx, int id, const char *text);
void ka_gui_textarea_set_placeholder(KA_GUI_CTX *ctx, int id, const char *text);
int ka_gui_combobox_add_item(KA_GUI_CTX *ctx, int id, const char *text);
int ka_gui_combobox_get_selected(KA_GUI_CTX *ctx, int id);
void ka_gui_combobox_set_selected(KA_GUI_CTX *ctx, int id, int index);
void ka_gui_label_set_text(KA_GUI_CTX *ctx, int id, const char *text);
// 1 when the label's text fits its rectangle; the sizes it needs go to the outputs.
int ka_gui_label_fits(KA_GUI_CTX *ctx, int id, float *needed_w, float *needed_h);
void ka_gui_custom_set_mouse(KA_GUI_CTX *ctx, int id, KA_GUI_CUSTOM_MOUSE_CB on_mouse,
                             void *user_data);
// Installs the hook called with the custom widget's user data when it is destroyed.
void ka_gui_custom_set_destroy(KA_GUI_CTX *ctx, int id, KA_GUI_DESTROY_CB destroy);
