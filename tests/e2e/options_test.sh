#!/usr/bin/env bash
# The options screen of the real program under Xvfb: dragging the unit slider saves the unit in
# settings.json and its caption shows what was saved (the same caption comes back after a
# restart); a colour typed into the palette's hex field is the colour of the next send's dots.
source "$(dirname "$0")/lib.sh"
SAVE="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$SAVE"
export PULSE_SERVER=unix:/nonexistent
cat >"$SAVE/settings.json" <<'JSON'
{ "version": 1, "unit_ms": 100, "out_sound": false, "loop": false,
  "color_dot": "#FFFFFF", "color_dash": "#FFFFFF" }
JSON
# One preset, so the list is short and its row is known.
cat >"$SAVE/presets.json" <<'JSON'
{ "version": 1, "presets": [ { "id": 1, "name": "SOS", "text": "SOS", "category": "emergency" } ] }
JSON

# Window coordinates at 480 x 800: the Options button, the Timing and Colors tabs, the unit
# slider's track and its caption, the first colour row's Change, the palette's hex field and
# OK, the Back button, the preset row, and a pixel of the play screen's light.
OPTIONS_X=407 OPTIONS_Y=682
TIMING_X=240 COLORS_X=396 TAB_Y=90
SLIDER_Y=262 SLIDER_FROM=60 SLIDER_TO=190
CAPTION="300x30+12+210"
CHANGE_X=413 CHANGE_Y=284
HEX_X=342 HEX_Y=253 OK_X=345 OK_Y=392
BACK_X=66 BACK_Y=38
SOS_X=240 SOS_Y=214
LIGHT_X=240 LIGHT_Y=100

click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.1; xdotool click 1; sleep 0.4; }
colour_at() { pixel_at $((WX + $1)) $((WY + $2)); }
crop() { import -window root -crop "$(echo "$1" | awk -F'[x+]' -v X="$WX" -v Y="$WY" '{printf "%sx%s+%d+%d", $1, $2, $3 + X, $4 + Y}')" "$2"; }
unit_saved() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["unit_ms"])' "$SAVE/settings.json"; }
start() {
  open_lumikey
  sleep 0.5
}
same() { [[ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" == 0 ]]; }

echo "== dragging the unit slider saves the unit and shows it in the caption"
start
click_at $OPTIONS_X $OPTIONS_Y
click_at $TIMING_X $TAB_Y
crop $CAPTION "$E2E_TMP/caption_before.png"
xdotool mousemove $((WX + SLIDER_FROM)) $((WY + SLIDER_Y)); sleep 0.1
xdotool mousedown 1; sleep 0.1
for x in $(seq $SLIDER_FROM 40 $SLIDER_TO) $SLIDER_TO; do
  xdotool mousemove $((WX + x)) $((WY + SLIDER_Y)); sleep 0.05
done
xdotool mouseup 1
for _ in $(seq 1 50); do [[ "$(unit_saved)" != 100 ]] && break; sleep 0.1; done
unit=$(unit_saved)
(( unit > 120 && unit < 250 && unit % 5 == 0 )) || fail "unit $unit saved after the drag"
sleep 0.3
crop $CAPTION "$E2E_TMP/caption_after.png"
same "$E2E_TMP/caption_before.png" "$E2E_TMP/caption_after.png" && fail "the caption did not change"

echo "== a colour typed into the hex field lights the next send's dots"
click_at $COLORS_X $TAB_Y
click_at $CHANGE_X $CHANGE_Y
click_at $HEX_X $HEX_Y
xdotool type --delay 40 "#00ff80"
click_at $OK_X $OK_Y
for _ in $(seq 1 50); do grep -q '"#00FF80"' "$SAVE/settings.json" && break; sleep 0.1; done
grep -q '"color_dot":\s*"#00FF80"' "$SAVE/settings.json" || fail "dot colour not saved: $(cat "$SAVE/settings.json")"
click_at $BACK_X $BACK_Y
home_rgb=$(colour_at $LIGHT_X $LIGHT_Y)
click_at $SOS_X $SOS_Y
: >"$E2E_TMP/samples"
for _ in $(seq 1 400); do
  c=$(colour_at $LIGHT_X $LIGHT_Y)
  echo "$c" >>"$E2E_TMP/samples"
  [[ "$c" == "$home_rgb" ]] && break
done
grep -qx "0,255,128" "$E2E_TMP/samples" || fail "no dot in the new colour: $(sort "$E2E_TMP/samples" | uniq -c)"
grep -qx "255,255,255" "$E2E_TMP/samples" || fail "no dash in white: $(sort "$E2E_TMP/samples" | uniq -c)"
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"

echo "== after a restart the caption reads as it did after the drag"
start
click_at $OPTIONS_X $OPTIONS_Y
click_at $TIMING_X $TAB_Y
sleep 0.3
crop $CAPTION "$E2E_TMP/caption_restart.png"
same "$E2E_TMP/caption_after.png" "$E2E_TMP/caption_restart.png" ||
  fail "the caption after the restart differs from the one after the drag (unit $unit)"
[[ "$(unit_saved)" == "$unit" ]] || fail "unit changed by the restart"
# Back to home, then quit; a key sent to a window already closing is not a failure of this test.
for _ in 1 2 3; do
  kill -0 "$LUMIKEY_PID" 2>/dev/null || break
  xdotool key --window "$win" Escape 2>/dev/null || true
  sleep 0.6
done
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
echo "all options screen checks passed"
