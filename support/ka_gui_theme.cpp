// support/ka_gui_theme.cpp: the colours and metrics every context, window and widget starts
// with. The program keeps these defaults and only recolours a few windows and labels.
#include "support/ka_gui.hpp"

static ALLEGRO_COLOR _rgba(int r, int g, int b, int a) {
    return al_map_rgba(r, g, b, a);
}

KA_GUI_THEME ka_gui_default_theme() {
    KA_GUI_THEME t;
    t.bg_normal = _rgba(50, 50, 60, 230);
    t.bg_hover = _rgba(70, 70, 85, 240);
    t.bg_active = _rgba(90, 90, 110, 250);
    t.border_normal = _rgba(120, 120, 140, 255);
    t.border_hover = _rgba(160, 160, 180, 255);
    t.border_active = _rgba(200, 200, 220, 255);
    t.text_normal = _rgba(220, 220, 220, 255);
    t.text_hover = _rgba(255, 255, 255, 255);
    t.text_active = _rgba(255, 255, 255, 255);
    t.border_thickness = 1;
    t.corner_rx = 4;
    t.corner_ry = 4;
    t.selection_color = _rgba(50, 100, 200, 120);
    return t;
}

KA_GUI_STYLE ka_gui_default_style() {
    KA_GUI_STYLE s;
    s.titlebar_h = 28;
    s.min_win_w = 120;
    s.min_win_h = 60;
    s.title_padding = 8;
    s.title_max_w_reserve = 16;
    s.tb_btn_size = 0;
    s.tb_btn_spacing = 2;
    s.tb_btn_right_margin = 4;
    s.tb_btn_glyph_thickness = 1.5f;
    s.scrollbar_size = 12;
    s.scrollbar_thumb_min = 16;
    s.scrollbar_thumb_padding = 2;
    s.scrollbar_thumb_corner_r = 3;
    s.scrollbar_track_color = _rgba(40, 40, 50, 200);
    s.scrollbar_thumb_color = _rgba(120, 120, 140, 220);
    s.global_scrollbar_size = 14;
    s.global_scrollbar_thumb_min = 20;
    s.global_scrollbar_thumb_padding = 2;
    s.global_scrollbar_thumb_corner_r = 4;
    s.global_scrollbar_border_thickness = 1;
    s.global_scrollbar_track_color = _rgba(30, 30, 40, 200);
    s.global_scrollbar_thumb_color = _rgba(100, 100, 120, 220);
    s.global_scrollbar_thumb_border_color = _rgba(140, 140, 160, 255);
    s.grip_size = 12;
    s.grip_line_thickness = 1;
    s.grip_color = _rgba(160, 160, 180, 200);
    s.slider_track_size = 6;
    s.slider_track_corner_r = 3;
    s.slider_track_border_thickness = 1;
    s.slider_handle_min_r = 4;
    s.slider_handle_edge_offset = 2;
    s.slider_handle_border_thickness = 1.5f;
    s.slider_value_label_offset = 8;
    s.tooltip_delay = 0.6f;
    s.tooltip_bg = _rgba(28, 30, 36, 240);
    s.tooltip_border = _rgba(110, 115, 130, 255);
    s.tooltip_fg = _rgba(225, 225, 230, 255);
    s.tooltip_max_w = 480;
    s.textarea_padding = 4;
    s.textarea_cursor_width = 2;
    s.textarea_cursor_blink_period = 1;
    s.checkbox_max_size = 20;
    s.checkbox_mark_margin = 4;
    s.checkbox_mark_thickness = 2;
    s.checkbox_label_gap = 10;
    s.checkbox_label_offset = 6;
    s.radio_circle_min_r = 4;
    s.radio_circle_border_thickness = 1.5f;
    s.radio_inner_offset = 3;
    s.radio_label_gap = 6;
    s.listbox_default_item_height = 20;
    s.radiolist_default_item_height = 22;
    s.combobox_max_visible = 6;
    s.dropmenu_max_visible = 12;
    s.item_text_padding = 6;
    s.item_selection_inset = 1;
    s.item_height_pad = 4;
    s.dropdown_arrow_reserve = 16;
    s.dropdown_arrow_thickness = 1.5f;
    s.dropdown_arrow_half_h = 3;
    s.dropdown_arrow_half_w = 5;
    s.dropdown_border_thickness = 1;
    s.shape_mode = -1;
    s.label_padding = 4;
    s.link_underline_thickness = 1;
    s.link_color_normal = _rgba(80, 140, 220, 255);
    s.link_color_hover = _rgba(120, 180, 255, 255);
    s.scroll_step = 20;
    s.global_scroll_step = 30;
    s.combobox_max_dropdown_width = 0;
    return s;
}
