// src/main/app.hpp: the one application record every screen and operation works on, and the
// entry point that starts, runs and shuts the program down.
#pragma once
#include <cstddef>
#include <cstdint>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include "support/ka_gui.hpp"

#include "model/history.hpp"
#include "model/practice.hpp"
#include "model/presets.hpp"
#include "model/received.hpp"
#include "model/receiver.hpp"
#include "model/settings.hpp"
#include "morse/player.hpp"
#include "platform/wake_event.hpp"
// The screens' state the record keeps, from headers that know nothing of the record: the
// screens include this header, never the other way round.
#include "ui/screen_key_state.hpp"
#include "ui/screen_light.hpp"
#include "ui/screen_practice_state.hpp"
#include "ui/screen_receive_state.hpp"
#include "ui/screen_send_practice_state.hpp"
#include "ui/text_view.hpp"
#include "ui/touch_list.hpp"
#include "ui/ui_sound_save.hpp"

// The files the program keeps, each written whole from its model.
enum APP_FILE {
    APP_FILE_SETTINGS = 0,
    APP_FILE_PRESETS = 1,
    APP_FILE_HISTORY = 2,
    APP_FILE_RECEIVED = 3,
    APP_FILE_PRACTICE = 4,
    APP_FILE_COUNT = 5,
};

// How saving one file goes. A file whose last write failed keeps its changes in the model and
// is written again on the next change, by the loop after a growing pause, and at exit.
struct APP_SAVE_STATE {
    int unsaved;     // the model holds what the file lacks (settings: settings_dirty says it)
    double retry_at; // Allegro time before which the loop does not try again
    double retry_s;  // pause after the last failed try (0 after a success)
};

// What the save notice says: nothing, that changes could not be saved, that all are saved now.
enum APP_SAVE_NOTICE { SAVE_NOTICE_NONE = 0, SAVE_NOTICE_FAILED = 1, SAVE_NOTICE_RECOVERED = 2 };

enum APP_SCREEN {
    SCREEN_HOME = 0,
    SCREEN_PLAY = 1,
    SCREEN_EDIT = 2,
    SCREEN_HISTORY = 3,
    SCREEN_OPTIONS = 4,
    SCREEN_RECEIVE = 5,
    SCREEN_RECEIVED = 6,
    SCREEN_KEY = 7,
    SCREEN_PRACTICE = 8,
    SCREEN_PROGRESS = 9,
};

// The whole program's state, owned by the main thread. Zero-filled at start; fields whose
// types belong to modules not yet in the program join the record with those modules.
struct LUMIKEY_APP {
    // Display, events and drawing
    ALLEGRO_DISPLAY *display;
    ALLEGRO_EVENT_QUEUE *queue;
    ALLEGRO_EVENT_SOURCE wake_source;
    ALLEGRO_TIMER *anim_timer;
    ALLEGRO_FONT *font;
    ALLEGRO_FONT *font_big;
    KA_GUI_CTX *gui;
    float ui_scale;
    int disp_w, disp_h;
    int display_halted;
    int needs_rebuild;
    int redraw;
    double redraw_until;
    int running;
    APP_SCREEN screen;

    // Settings, sending and presets
    SETTINGS settings;
    MORSE_PLAYER *player;
    SCREEN_LIGHT light;
    char play_text[1024];
    int play_requested;
    int stop_requested;
    // The next send only (each reset when it starts): a unit other than the settings', gaps
    // spread to an effective speed, and staying on the screen that asked (no play screen).
    uint32_t play_unit_ms;       // 0: the settings' unit
    uint32_t play_effective_wpm; // 0: no Farnsworth spacing
    int play_in_place;
    double play_heard_end; // Allegro time the last send's last element is heard to end
    PRESET_LIST *presets;
    TOUCH_LIST_VIEW home_list;
    SENT_HISTORY history;
    int msg_field;

    // Soft keyboard, screen lock and background work
    int kb_overlap;
    int keep_on;
    int play_bg;
    int bg_kinds;
    double kb_poll_time;
    int play_from_message;
    int save_after_stop;
    int keyboard_shown;
    int focus_was_text;
    int tapped;
    int pointer_down; // any pointer button is held, on any screen (the key pad's is
                      // key.pointer_on_pad)

    // Screen state
    int settings_dirty;
    RECEIVED_LIST *received;
    int palette_win;
    double event_time;
    APP_SCREEN built_screen;
    int wake_source_ready; // wake_source was initialised and must be destroyed
    double back_time;      // event time of the last back press acted on; negative: none yet

    // Home screen: the preset actions and confirm popups, and the preset they act on
    int actions_win, actions_title;
    int confirm_win, confirm_label, confirm_kind;
    int target_id; // -1: the editor makes a new preset

    // Options screen: the tab shown, its status line (kept across its own rebuilds), the colour
    // the palette popup edits and the flashlight measurement last shown
    int options_tab;
    int options_status;
    char options_status_text[128];
    int color_target;
    int palette_hex;
    uint32_t palette_rgb;
    int torch_shown;

    // Preset editor widgets
    int edit_text, edit_name, edit_cat, edit_preview;

    // Preset editor draft, restored on the editor's next build
    int draft_valid;
    char draft_text[512];
    char draft_name[64];
    int draft_cat;

    // Key screen
    KEYPAD key;
    TEXT_VIEW key_text;

    // History and received-messages screens: their lists, actions popups and the entry acted on
    TOUCH_LIST_VIEW hist_list;
    int hist_actions_win, hist_target; // hist_target: index into history
    TOUCH_LIST_VIEW recv_list;
    int recv_actions_win, recv_target, recv_actions_title; // recv_target: a message id
    // Receive screen: the receiver shared with the capture thread, the screen's own state, its
    // live text and the preview's rotation
    RECEIVER rx;
    int rx_ready; // app_receiver_init made rx
    RECEIVE_SCREEN receive;
    TEXT_VIEW rx_text;
    int rx_orientation;

    // Practice: the learner's log ("practice.json") and the practice screen's session
    PRACTICE_LOG *practice_log;
    PRACTICE_SCREEN practice;

    // The popup that saves a preset, a history entry or practice groups as a sound file
    SOUND_SAVE_POPUP sound_save;
    // Send practice on the key screen: the target and the last keyed message's result
    SEND_PRACTICE send;
    // Saves: how each file's saving goes, and the popup every screen but the play screen has
    // for telling the user (open it again at the next build when notice_due is set)
    APP_SAVE_STATE saves[APP_FILE_COUNT];
    APP_SAVE_NOTICE save_notice;
    int save_notice_due;
    int save_notice_win, save_notice_label;
};

// v base pixels at the current UI scale, rounded to whole pixels.
float app_px(const LUMIKEY_APP *app, float v);
// An Allegro colour from 0xRRGGBB.
ALLEGRO_COLOR app_rgb(uint32_t rgb);
// A window of the GUI that the user can neither move nor see the frame of, as every screen
// and popup is: its id, or -1 when the GUI is full.
int app_add_fixed_window(LUMIKEY_APP *app, const char *name, float x, float y, float w, float h);
// Switches screens after the clean-up the screen left behind needs; the GUI is rebuilt in the
// same loop pass.
void app_set_screen(LUMIKEY_APP *app, APP_SCREEN screen);
// Asks the loop to send text (cut to play_text) once the GUI has finished with the event.
void app_request_play(LUMIKEY_APP *app, const char *text);
// Asks the loop to stop the send.
void app_request_stop(LUMIKEY_APP *app);
// A typed message: on top of the sent history (saved when it changed), then requested as a send
// that the play screen offers to keep as a preset.
void app_send_message(LUMIKEY_APP *app, const char *text);
// Starts sending play_text on every enabled output (any send in progress ends first) and shows
// the play screen. 1 when the player started, 0 when nothing was started.
int app_start_playback(LUMIKEY_APP *app);
// Stops the player, the tone and the animation timer; the screen stays as it is.
void app_stop_playback(LUMIKEY_APP *app);
// Fills channels (room for PLAYER_MAX_CHANNELS) for a send of seq: the screen light first, then
// sound, flashlight and vibration as enabled and available, each with its lead. The number
// filled. The sound is prepared here, so the caller releases it when the send does not start.
size_t app_playback_channels(LUMIKEY_APP *app, const MORSE_SEQUENCE *seq, PLAYER_CHANNEL *channels);
// Makes the receiver, whose finished messages are saved to received.json and whose traces follow
// the screen light; once, at start-up.
int app_receiver_init(LUMIKEY_APP *app);
// Frees the receiver; at shutdown, after receiver_stop.
void app_receiver_destroy(LUMIKEY_APP *app);
// Opens the preset editor on a new preset holding text (null counts as "").
void app_edit_new_preset_from(LUMIKEY_APP *app, const char *text);
// Applies the play and stop requests the GUI callbacks of this loop pass recorded.
void app_apply_requests(LUMIKEY_APP *app);
// Sets every widget id the record keeps to none: at start-up and for every fresh GUI context,
// where the old context's ids mean nothing.
void app_forget_widget_ids(LUMIKEY_APP *app);
// Rebuilds the GUI of the current screen, and draws one frame; both do nothing without a display.
void app_build_gui(LUMIKEY_APP *app);
void app_draw(LUMIKEY_APP *app);
// Saves write their file from the model in memory: 1 on success; 0, logged as "could not save
// <file>", when nothing could be written. A failed file stays marked unsaved (the model keeps
// the change) and the save notice tells the user; the loop tries again (app_save_due). A
// successful save clears the mark (and settings_dirty).
int app_save_file(LUMIKEY_APP *app, APP_FILE file);
int app_save_settings(LUMIKEY_APP *app);
int app_save_presets(LUMIKEY_APP *app);
int app_save_history(LUMIKEY_APP *app);
int app_save_received(LUMIKEY_APP *app);
int app_save_practice(LUMIKEY_APP *app);
// Reads "practice.json" into a new practice log (a file that cannot be used is set aside and
// the log starts afresh). 0 only when memory ran out.
int app_load_practice(LUMIKEY_APP *app);
// 1 while file holds changes not yet written (dirty settings, or a failed save).
int app_file_unsaved(const LUMIKEY_APP *app, APP_FILE file);
// The main loop's saves at time now (seconds, Allegro clock): dirty settings and every file
// whose save failed. After a failure a file waits 1 s, doubling up to 30 s, so a full or
// read-only disk costs neither CPU nor a flood of log lines. The number of files written.
int app_save_due(LUMIKEY_APP *app, double now);
// One try for every file not yet written, whatever its pause (the display goes away, the disk
// may have recovered). The number written.
int app_save_pending(LUMIKEY_APP *app);
// Shutdown's last chance: app_save_pending, then each file logged as "<what> saved at exit" or,
// when it still fails, "<what> changed since the last save are lost". Every way the program
// ends normally comes through here. The number written.
int app_save_at_exit(LUMIKEY_APP *app);
// Adds the save notice popup to the GUI being built and opens it when it is due.
void app_save_notice_build(LUMIKEY_APP *app);
// Closes the save notice; 1 when it was open.
int app_save_notice_close(LUMIKEY_APP *app);
// Replaces the default presets with those of the current language, keeps the user's own and
// saves. The number restored; -1 when the defaults file cannot be used, PRESETS_FULL when the
// defaults and the user's own presets would not fit.
int app_restore_default_presets(LUMIKEY_APP *app);
// Writes the name of the defaults asset of the interface language ("presets/defaults_fr.json").
void app_defaults_asset_name(const LUMIKEY_APP *app, char *out, size_t out_size);
// Reads the defaults asset of the interface language (its name written to name) into the
// preset list, keeping the user's own presets; saves nothing. The number installed, or -1.
int app_merge_default_presets(LUMIKEY_APP *app, char *name, size_t name_size);

// What the loop asks of each screen. Any hook may be null. build fills the fresh GUI context;
// tick runs once per loop pass while the screen is built; back returns non-zero when it
// consumed the back press (a popup closed), otherwise the loop goes to the screen's parent;
// leave runs when app_set_screen switches to another screen; release runs at shutdown.
// A rebuild makes a fresh GUI context in which the old widget ids mean nothing: keep runs for
// the screen that was built, before its context goes, and saves what must survive into the
// app record or the screen's own file; restore runs after build when the same screen was
// rebuilt (a resize, a language change) and puts back what keep saved (text, caret, focus).
// message_field is the widget id of the screen's message field, the one Enter sends from
// (through send) and the soft keyboard serves, -1 when none; a screen with one is laid out
// again above the keyboard. event sees each event before the GUI while the screen is built and
// returns non-zero to keep it from the GUI. at_home runs for every screen when the app goes
// home. draw_under paints the display under the GUI instead of the plain background, draw_over
// paints over the GUI.
struct APP_SCREEN_HOOKS {
    void (*build)(LUMIKEY_APP *app) = nullptr;
    void (*tick)(LUMIKEY_APP *app) = nullptr;
    int (*back)(LUMIKEY_APP *app) = nullptr;
    void (*leave)(LUMIKEY_APP *app) = nullptr;
    void (*release)(LUMIKEY_APP *app) = nullptr;
    void (*keep)(LUMIKEY_APP *app) = nullptr;
    void (*restore)(LUMIKEY_APP *app) = nullptr;
    int (*message_field)(const LUMIKEY_APP *app) = nullptr;
    void (*send)(LUMIKEY_APP *app) = nullptr;
    void (*at_home)(LUMIKEY_APP *app) = nullptr;
    int (*event)(LUMIKEY_APP *app, const ALLEGRO_EVENT *ev) = nullptr;
    void (*draw_under)(LUMIKEY_APP *app) = nullptr;
    void (*draw_over)(LUMIKEY_APP *app) = nullptr;
};
// The hooks of screen; a value out of range gets the home screen's.
const APP_SCREEN_HOOKS *app_screen_hooks(APP_SCREEN screen);
// Where the back key leads from screen when the screen has nothing to close.
APP_SCREEN app_screen_parent(APP_SCREEN screen);
// The built screen's message field (its message_field hook), -1 when it has none.
int app_message_field(const LUMIKEY_APP *app);
// Runs every screen's at_home hook.
void app_screens_at_home(LUMIKEY_APP *app);
// The number of screens: APP_SCREEN values run from 0 to this, less one.
int app_screen_count();

// The back key, pressed at event_time (the event's own time stamp, seconds): the screen closes
// what it has open, else the loop goes to its parent; on the home screen the program quits. A
// press within 0.3 s of the last one acted on is a bounce and does nothing.
void app_back(LUMIKEY_APP *app, double event_time);

// One pass of the main loop for event (null: none came within the wait): the event is
// handled and given to the GUI, requests applied, the screen ticked, settings saved, the GUI
// rebuilt, the system kept in step and a frame drawn when one is due. While the display is
// halted only the background goes on (app_background_tick).
void app_loop_pass(LUMIKEY_APP *app, const ALLEGRO_EVENT *event);
// Keeps 30 Hz frames coming for 0.6 s, so a rebuild, resize or resume settles visibly.
void app_redraw_burst(LUMIKEY_APP *app);
// Loads both fonts again at the current UI scale; a font that fails to load keeps the old one.
// 1 when both slots hold a font.
int app_reload_fonts(LUMIKEY_APP *app);

// Once per loop pass, after any rebuild: the soft keyboard follows the focus, the screen
// content makes room for it, the screen-on lock is held while something is sent, received or
// keyed with the light, and background work is announced (settings permitting).
void app_sync_system(LUMIKEY_APP *app);
// The display goes away: an announced send or receiver goes on, all else stops; the key and
// the receiver are released and every file not yet saved is tried.
void app_on_halt(LUMIKEY_APP *app);
// The display is back: pending events are dropped, audio comes back, the fonts are reloaded
// and the screen is rebuilt at the display's current size.
void app_on_resume(LUMIKEY_APP *app);
// The loop pass while halted: the receiver ticks, a kept send that ended returns to the home
// screen, and the announcement follows (it may only narrow until the resume).
void app_background_tick(LUMIKEY_APP *app);

// Starts, runs and shuts the program down: 0 after a normal quit, 1 after a failed start-up.
// A start on a save folder another copy holds brings that copy's window to the front and
// returns 0 without writing anything, or 1 when the window could not be brought forward.
int app_main(int argc, char **argv);
