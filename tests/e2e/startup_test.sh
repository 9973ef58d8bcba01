#!/usr/bin/env bash
# The real program under Xvfb: its window, its icon, its cleared background, quitting with Escape and
# with the window's close button, and the two start-up failures a user can meet.
source "$(dirname "$0")/lib.sh"

echo "== window appears, shows the home screen's background, Escape quits"
start_lumikey
win=$(wait_window)
wait_log "Lumikey 0.2.5 started, display 480x800, density 1.00, ui scale 1.00"
expect_log "desktop platform ready, save dir: $E2E_TMP/home/.local/share/lumikey"
[[ -d "$E2E_TMP/home/.local/share/lumikey" ]] || fail "save directory was not created"
eval "$(xdotool getwindowgeometry --shell "$win")"
[[ "$WIDTH" == 480 && "$HEIGHT" == 800 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 480x800"
has_own_icon "$win" || fail "the window does not carry the program's icon"
# The first frame may take a moment on a loaded machine. The left edge of the preset list,
# beside the cards, shows the home window's own background.
for _ in $(seq 1 50); do
  colour=$(pixel_at $((X + 2)) $((Y + 400)))
  [[ "$colour" == "52,52,62" ]] && break
  sleep 0.1
done
[[ "$colour" == "52,52,62" ]] || fail "background is ($colour), not (52,52,62)"
import -window root "$E2E_TMP/startup.png"
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "Escape ended with status $EXIT_STATUS"
expect_log "Lumikey shut down"

echo "== the window's close button quits with status 0"
rm -f "$E2E_TMP/log"
start_lumikey
win=$(wait_window)
wait_log "started"
"$LUMIKEY_BUILD/tests/xclose_app" "$win"
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "closing ended with status $EXIT_STATUS"
expect_log "Lumikey shut down"

echo "== XDG_DATA_HOME under missing folders: they are made, and the save folder is private"
data="$E2E_TMP/missing/parent"
open_lumikey XDG_DATA_HOME="$data"
expect_log "desktop platform ready, save dir: $data/lumikey"
[[ $(stat -c %a "$data/lumikey") == 700 ]] || fail "save folder of mode $(stat -c %a "$data/lumikey")"

echo "== a linked settings file of mode 600 is saved through its link and keeps its mode"
mkdir "$E2E_TMP/elsewhere"
echo '{}' >"$E2E_TMP/elsewhere/settings.json"
chmod 600 "$E2E_TMP/elsewhere/settings.json"
ln -s ../../../elsewhere/settings.json "$data/lumikey/settings.json"
# The home screen's first output toggle, "Screen", switches the screen light off: a save.
xdotool mousemove --window "$win" 30 100 click 1
for _ in $(seq 1 50); do
  grep -q '"out_screen":	false' "$E2E_TMP/elsewhere/settings.json" && break
  sleep 0.1
done
grep -q '"out_screen":	false' "$E2E_TMP/elsewhere/settings.json" ||
  fail "the link's target was not written"
[[ -L "$data/lumikey/settings.json" ]] || fail "the link became a plain file"
[[ $(stat -c %a "$E2E_TMP/elsewhere/settings.json") == 600 ]] || fail "the mode was widened"
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "Escape ended with status $EXIT_STATUS"

echo "== a save directory that cannot be created stops start-up"
touch "$E2E_TMP/plain-file"
start_lumikey XDG_DATA_HOME="$E2E_TMP/plain-file/data"
wait_exit 20
[[ $EXIT_STATUS -eq 1 ]] || fail "status $EXIT_STATUS, not 1"
expect_log "could not create save dir $E2E_TMP/plain-file/data/lumikey: Not a directory"
expect_log "init failed, exiting"
expect_log "Lumikey shut down"

echo "== a missing font falls back to the built-in font"
# Without assets there are no default presets either; the first run above saved presets.json.
[[ -s "$E2E_TMP/home/.local/share/lumikey/presets.json" ]] || fail "first run saved no presets"
in_bare_folder start_lumikey
win=$(wait_window)
wait_log "started"
expect_log "could not load font assets/fonts/DejaVuSans.ttf"
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS after the font fallback"

echo "all start-up checks passed"
