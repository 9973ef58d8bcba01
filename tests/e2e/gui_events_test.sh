#!/usr/bin/env bash
# The GUI toolkit's event processing on a real window: the demo program's text area, buttons,
# slider, checkbox and combobox driven with xdotool clicks, drags and typing (non-ASCII
# included), checked through the state lines it prints, and a screenshot for a human eye.
source "$(dirname "$0")/lib.sh"

APP="$LUMIKEY_BUILD/tests/gui_demo_app"
OUT="$E2E_TMP/out"
# Screenshots for a human eye: after typing, with the combobox list open, and at the end.
SHOT="$LUMIKEY_BUILD/gui_events"
[[ -x "$APP" ]] || fail "no $APP"

# The demo's window is 480 x 400; widget centres in window coordinates.
TEXT_X=240 TEXT_Y=75
COUNT_X=90 COUNT_Y=170
TOGGLE_X=250 TOGGLE_Y=170
SLIDER_Y=225 SLIDER_LEFT=35 SLIDER_RIGHT=445
CHECK_X=30 CHECK_Y=275
COMBO_X=120 COMBO_Y=325

mapfile -t sanitizer < <(sanitizer_env "$APP")
( cd "$LUMIKEY_BUILD" && exec env "${sanitizer[@]}" "$APP" ) >"$OUT" 2>"$E2E_TMP/log" &
LUMIKEY_PID=$!

win=$(wait_window '^Lumikey GUI demo$')
eval "$(xdotool getwindowgeometry --shell "$win")"
WX=$X WY=$Y

# at X Y: moves the pointer to window coordinates.
at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.02; }
click_at() { at "$1" "$2"; sleep 0.05; xdotool click 1; sleep 0.1; }
last() { grep '^state\|^ready' "$OUT" | tail -1; }
# has_all LINE WANT...: LINE holds every WANT as a whole field.
has_all() {
  local line=$1; shift
  for want in "$@"; do [[ " $line " == *" $want "* ]] || return 1; done
}
# expect FIELD=VALUE...: waits up to 20 s for a last state line that has every one of them.
expect() {
  for _ in $(seq 1 200); do
    has_all "$(last)" "$@" && return 0
    sleep 0.1
  done
  fail "expected $* in: $(last)"
}
settle() { sleep 0.3; }
current_text() { last | sed 's/^[a-z]* text="\(.*\)" clicks=.*/\1/'; }

# type_text TEXT: types TEXT character by character into the focused text area, checking each.
# xdotool types a character missing from the keymap through a spare key that it binds to that
# one keysym just for the keystroke and unbinds at once; a client that looks the key up after
# the unbinding sees nothing or another character, and X reads a lone keysym as the lower case
# of its pair. So capitals go with an explicit Shift, and a keystroke that came out wrong is
# taken back with BackSpace and tried again (the program's own handling is not in doubt: what
# arrives is checked exactly).
type_text() {
  local text=$1 i ch before now keys
  for ((i = 0; i < ${#text}; i++)); do
    ch=${text:i:1}
    case "$ch" in
      Ç) keys="shift+ccedilla" ;;
      ü) keys="udiaeresis" ;;
      ß) keys="ssharp" ;;
      " ") keys="space" ;;
      *) keys="" ;;
    esac
    before=$(current_text)
    for attempt in 1 2 3 4 5 6; do
      if [[ -n "$keys" ]]; then xdotool key "$keys"; else xdotool type "$ch"; fi
      for _ in 1 2 3 4 5 6 7 8 9 10; do
        sleep 0.1
        [[ "$(current_text)" != "$before" ]] && break
      done
      now=$(current_text)
      [[ "$now" == "$before$ch" ]] && break
      [[ "$now" != "$before" ]] && { xdotool key BackSpace; sleep 0.15; }
      [[ $attempt -eq 6 ]] && fail "could not type '$ch' after '$before' (got '$now')"
    done
  done
}

for _ in $(seq 1 600); do grep -q '^ready' "$OUT" && break; sleep 0.1; done
grep -q '^ready' "$OUT" || fail "demo never printed its ready state"

echo "== typing, with non-ASCII characters, into the text area"
# The very first click may come before the window takes input: repeat it until it lands.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  click_at $TEXT_X $TEXT_Y
  sleep 0.2
  has_all "$(last)" focus=text && break
done
expect focus=text
type_text "Grüße ÇA"
settle
expect 'text="Grüße' 'ÇA"' focus=text
xdotool key Return
import -window root "$SHOT-typed.png"
type_text "dé"
xdotool key BackSpace
settle
expect 'text="Grüße' 'ÇA\nd"'

echo "== selecting the first line with a drag, then deleting the selection"
at 22 28; xdotool mousedown 1; sleep 0.05
at 200 30; sleep 0.05
at 430 28; sleep 0.05; xdotool mouseup 1; settle
xdotool key Delete
settle
expect 'text="\nd"' || fail "drag selection did not take the first line: $(last)"

echo "== a click counts; pressing, leaving and releasing does not"
click_at $COUNT_X $COUNT_Y
settle
expect clicks=1 focus=other
at $COUNT_X $COUNT_Y; xdotool mousedown 1; sleep 0.05
at 400 120; sleep 0.05; xdotool mouseup 1; settle
expect clicks=1

echo "== the toggle button flips on click"
click_at $TOGGLE_X $TOGGLE_Y
settle
expect toggle=1

echo "== dragging the slider to its end passes only multiples of 5"
at $SLIDER_LEFT $SLIDER_Y; xdotool mousedown 1
for x in $(seq $SLIDER_LEFT 7 $SLIDER_RIGHT) $SLIDER_RIGHT; do at "$x" $SLIDER_Y; done
xdotool mouseup 1; settle
expect slider=100
bad=$(grep -o 'slider=[0-9]*' "$OUT" | sed 's/slider=//' | awk '$1 % 5 != 0' | head -1)
[[ -z "$bad" ]] || fail "slider reported $bad, not a multiple of 5"

echo "== keyboard: Left steps the focused slider down by its step"
xdotool key Left
settle
expect slider=95

echo "== the checkbox toggles on click"
click_at $CHECK_X $CHECK_Y
settle
expect check=1

echo "== the combobox opens, and a click on its third item chooses it"
click_at $COMBO_X $COMBO_Y
settle
# The list opens above the combobox when there is no room below (4 items of 30 px).
import -window root "$SHOT-combo.png"
click_at $COMBO_X $((COMBO_Y - 15 - 4 * 30 + 2 * 30 + 15))
settle
expect combo=2
echo "== Up on the focused, closed combobox selects the previous item"
xdotool key Up
settle
expect combo=1

echo "== Tab moves the focus back to the text area, where typing continues"
at 470 390
xdotool key Tab
settle
xdotool key End
type_text "!"
settle
expect 'text="\nd!"' focus=text

import -window root "$SHOT-final.png"
xdotool key Escape
sleep 0.2
# Escape is taken by nothing in the text area, so the demo ends.
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "demo ended with status $EXIT_STATUS"
final=$(grep '^final' "$OUT") || fail "no final state"
[[ "$final" == *'clicks=1 toggle=1 slider=95 check=1 combo=1'* ]] || fail "final state: $final"
echo "$final"
echo "all GUI event checks passed (screenshots: $SHOT-*.png)"
