#!/usr/bin/env bash
# The home screen of the real program under Xvfb: a held preset opens its actions, Move down
# and Delete (after its confirmation) change presets.json at once, Escape closes the popups
# before it quits, and a resize while typing keeps the text, the focus and the list's scroll.
source "$(dirname "$0")/lib.sh"
SAVE="$E2E_TMP/home/.local/share/lumikey"
PRESETS="$SAVE/presets.json"

# Window coordinates at 480 x 800: the second and third preset rows, the actions popup's
# buttons, the confirm popup's "Yes", a point inside each popup beside its buttons, and the
# message field.
ROW2_Y=282 ROW3_Y=350
MOVE_DOWN_X=333 MOVE_DOWN_Y=464
DELETE_Y=528
YES_X=147 YES_Y=354
ACTIONS_PROBE_Y=300 CONFIRM_PROBE_Y=250 PROBE_X=54
POPUP_RGB="38,42,52"
MSG_X=150 MSG_Y=746

click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; sleep 0.3; }
hold_at() {
  xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05
  xdotool mousedown 1; sleep 0.9; xdotool mouseup 1; sleep 0.3
}
colour_at() { pixel_at $((WX + $1)) $((WY + $2)); }
# eventually COMMAND...: retries COMMAND for up to 5 s, for a program that may be slow to draw
# or save on a loaded machine.
eventually() {
  for _ in $(seq 1 50); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
# second_third NAMES: whether the second and third presets in presets.json are NAMES ("a|b|").
second_third() { [[ "$(names | sed -n 2,3p | tr '\n' '|')" == "$1" ]]; }
has_preset() { names | grep -x "$1" >/dev/null; }
# wait_colour X Y RGB: waits up to 5 s for that colour at that point.
wait_colour() {
  for _ in $(seq 1 50); do
    [[ "$(colour_at "$1" "$2")" == "$3" ]] && return 0
    sleep 0.1
  done
  return 1
}
# popup_shown PROBE_Y: whether the popup covering that point is drawn (waiting for it).
popup_shown() { wait_colour $PROBE_X "$1" "$POPUP_RGB"; }
popup_gone() { eventually eval '[[ "$(colour_at $PROBE_X '"$1"')" != "$POPUP_RGB" ]]'; }
escape() { sleep 0.4; xdotool key --window "$win" Escape; sleep 0.4; }
# names: the preset names in presets.json, one a line, in list order.
names() {
  python3 -c 'import json,sys; [print(p["name"]) for p in json.load(open(sys.argv[1]))["presets"]]' "$PRESETS"
}
running() { kill -0 "$LUMIKEY_PID" 2>/dev/null; }

open_lumikey
sleep 0.5
[[ "$(names | sed -n 2,3p | tr '\n' '|')" == "Call for help|Need a doctor|" ]] ||
  fail "unexpected default presets: $(names | head -3)"

echo "== holding a preset opens its actions; Move down saves at once"
hold_at 240 $ROW2_Y
popup_shown $ACTIONS_PROBE_Y || fail "no actions popup after a long press"
click_at $MOVE_DOWN_X $MOVE_DOWN_Y
eventually second_third "Need a doctor|Call for help|" ||
  fail "Move down did not save: $(names | head -3)"
popup_shown $ACTIONS_PROBE_Y || fail "the actions popup closed after Move down"

echo "== Delete asks first; Escape closes the question and keeps the preset"
click_at 240 $DELETE_Y
popup_shown $CONFIRM_PROBE_Y || fail "no confirmation after Delete"
escape
running || fail "Escape with the confirmation open ended the program"
popup_gone $CONFIRM_PROBE_Y || fail "Escape left the confirmation open"
names | grep -x "Call for help" >/dev/null || fail "the preset went without a Yes: $(names | head -4 | tr "\n" "|")"

echo "== Escape closes the actions popup, not the program"
hold_at 240 $ROW3_Y
popup_shown $ACTIONS_PROBE_Y || fail "no actions popup on the moved preset"
escape
running || fail "Escape with the actions open ended the program"
popup_gone $ACTIONS_PROBE_Y || fail "Escape left the actions open"

echo "== Yes deletes the preset and saves"
hold_at 240 $ROW3_Y
click_at 240 $DELETE_Y
click_at $YES_X $YES_Y
eventually eval '! has_preset "Call for help"' || fail "Yes did not delete the preset"
[[ $(names | wc -l) -eq 24 ]] || fail "$(names | wc -l) presets left, not 24"

echo "== a screen not written yet leads back home with its Back button and with Escape"
card=$(colour_at 240 214)
click_at 298 682 # "Key"
wait_colour 240 214 "52,52,62" || fail "Key did not leave the home screen"
click_at 72 38 # "Back"
wait_colour 240 214 "$card" || fail "Back did not return home"
click_at 298 682
wait_colour 240 214 "52,52,62" || fail "Key did not leave the home screen"
escape
wait_colour 240 214 "$card" || fail "Escape did not return home"
running || fail "Escape on another screen ended the program"

echo "== a resize while typing keeps the text, the focus and the scroll position"
click_at $MSG_X $MSG_Y
xdotool type --delay 50 "Hallo Welt"
import -window root -crop "190x250+$((WX + 10))+$((WY + 150))" "$E2E_TMP/top.png"
xdotool mousemove $((WX + 240)) $((WY + 400))
for _ in 1 2 3; do xdotool click 5; sleep 0.1; done
sleep 0.4
import -window root -crop "190x250+$((WX + 10))+$((WY + 150))" "$E2E_TMP/scrolled.png"
diff=$(compare -metric AE "$E2E_TMP/top.png" "$E2E_TMP/scrolled.png" null: 2>&1 || true)
[[ "$diff" != 0 ]] || fail "the mouse wheel did not scroll the list"
xdotool windowsize "$win" 560 900
wait_log "display size 480x800 -> 560x900"
sleep 1
import -window root -crop "190x250+$((WX + 10))+$((WY + 150))" "$E2E_TMP/resized.png"
import -window root -crop "560x900+$WX+$WY" "$LUMIKEY_BUILD/home_resized.png"
diff=$(compare -metric AE "$E2E_TMP/scrolled.png" "$E2E_TMP/resized.png" null: 2>&1 || true)
[[ "$diff" == 0 ]] || fail "the list moved in the resize ($diff pixels differ)"
# Typing on without clicking proves the focus stayed in the field.
xdotool type --delay 50 " mehr"
xdotool key Return
for _ in $(seq 1 30); do grep -q "Hallo Welt mehr" "$SAVE/sent_history.json" 2>/dev/null && break; sleep 0.1; done
grep -q '"Hallo Welt mehr"' "$SAVE/sent_history.json" || fail "typed text lost in the resize"
sleep 0.5
escape
running || fail "Escape on the play screen ended the program"
escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
echo "all home screen checks passed"
