#!/usr/bin/env bash
# The history and received-messages screens on the real program: a tap in the history sends the
# entry again (its Morse is in the sound OpenAL writes to a WAV file), a hold offers its actions,
# "Clear" empties sent_history.json; on the received list "Copy" puts a message on the system
# clipboard and "Delete" takes it out of received.json; the back key closes a popup first.
source "$(dirname "$0")/lib.sh"

save="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$save"
# A short unit keeps the send brief.
echo '{"version": 1, "unit_ms": 60}' >"$save/settings.json"
cat >"$save/sent_history.json" <<'JSON'
{"version": 1, "sent": ["SOS", "Grüße", "older entry"]}
JSON
cat >"$save/received.json" <<'JSON'
{"version": 1, "next_id": 3, "received": [
  {"id": 2, "when": 1765195200, "text": "Grüße aus Köln ¿Qué tal?", "symbols": "--. .-. ..-- ... ... .", "unit_ms": 80},
  {"id": 1, "when": 1765191600, "text": "CQ DE ALPHA", "symbols": "-.-. --.- / -.. .", "unit_ms": 100}]}
JSON
printf '[general]\ndrivers=wave\n[wave]\nfile=%s\n' "$E2E_TMP/out.wav" >"$E2E_TMP/alsoft.conf"

COL_CARD=28,31,39     # a list row's card
COL_POPUP=38,42,52    # a popup's background
COL_BG=52,52,62   # a screen window's background (not WINDOW: xdotool sets that)
at() { pixel_at $((X + $1)) $((Y + $2)); }
# wait_pixel X Y COLOUR WHAT [SECONDS]: waits (10 s by default) for the window's pixel to take
# the colour.
wait_pixel() {
  for _ in $(seq 1 $((${5:-10} * 10))); do
    [[ "$(at "$1" "$2")" == "$3" ]] && return 0
    sleep 0.1
  done
  import -window root "$E2E_TMP/failed.png" 2>/dev/null || true
  fail "$4: pixel ($1, $2) is ($(at "$1" "$2")), not ($3)"
}
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }
# A press held well past the long-press time, without moving.
hold() {
  xdotool mousemove $((X + $1)) $((Y + $2)) mousedown 1
  sleep 1.2
  xdotool mouseup 1
}
back() {
  sleep 0.4 # a second back press within 0.3 s counts as a bounce
  xdotool key --window "$win" Escape
}
# wait_file FILE [grep args...]: waits up to 10 s for the file to match.
wait_file() {
  local file=$1
  shift
  for _ in $(seq 1 100); do
    grep -q "$@" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$(basename "$file") never matched $*: $(cat "$file" 2>/dev/null)"
}

# wait_gone FILE TEXT: waits up to 10 s for TEXT to leave the file.
wait_gone() {
  for _ in $(seq 1 100); do
    grep -qF -- "$2" "$1" || return 0
    sleep 0.1
  done
  fail "$(basename "$1") still holds $2"
}

start_lumikey ALSOFT_CONF="$E2E_TMP/alsoft.conf" ALSOFT_DRIVERS=wave
win=$(wait_window)
wait_log "started"
expect_log "3 sent messages loaded"
expect_log "2 received messages loaded"
eval "$(xdotool getwindowgeometry --shell "$win")"

# Layout at 480 x 800, scale 1: the home screen's "History" and "Receive" sit in the row above
# the message field; the history list starts at y 119 with rows 52 px high.
echo "== a tap on a history entry sends it again and puts it on top"
# The first frame can take long under a sanitizer on a busy machine.
wait_pixel 20 100 91,91,111 "home screen's output toggles" 60
click 64 682
wait_pixel 460 160 $COL_CARD "history's first row"
wait_pixel 20 100 $COL_BG "history screen"
click 240 197 # the second entry, "Grüße"
wait_file "$save/sent_history.json" -F '"Grüße", "SOS", "older entry"'
# The send ends by itself and the home screen comes back.
for _ in $(seq 1 150); do
  [[ "$(at 20 100)" == 91,91,111 ]] && break
  sleep 0.1
done
[[ "$(at 20 100)" == 91,91,111 ]] || fail "the home screen did not come back after the send"

echo "== holding a history entry offers its actions; Cancel keeps it, Delete removes it"
click 64 682
wait_pixel 460 160 $COL_CARD "history's first row"
hold 240 249 # the third entry, "older entry"
wait_pixel 54 300 $COL_POPUP "history actions popup"
click 240 430 # Cancel
wait_pixel 54 250 $COL_CARD "history row under the closed popup"
grep -qF '"older entry"' "$save/sent_history.json" || fail "Cancel deleted the entry"
hold 240 249
wait_pixel 54 300 $COL_POPUP "history actions popup"
click 240 366 # Delete
wait_gone "$save/sent_history.json" 'older entry'
grep -qF '"Grüße", "SOS"]' "$save/sent_history.json" || fail "Delete took the wrong entry"
wait_pixel 460 250 $COL_BG "the deleted row's place"

echo "== Back closes the popup first; Save as preset leaves for the editor"
hold 240 145
wait_pixel 54 300 $COL_POPUP "history actions popup"
back
wait_pixel 54 300 $COL_BG "the popup closed by the back key"
wait_pixel 460 160 $COL_CARD "still on the history screen"
hold 240 145
wait_pixel 54 300 $COL_POPUP "history actions popup"
click 240 238 # Save as preset
wait_pixel 460 160 91,91,111 "the editor's message field"
wait_pixel 460 260 $COL_BG "the editor screen under its preview line"
back
wait_pixel 20 100 91,91,111 "home screen"

echo "== Clear empties the history and its file"
click 64 682
wait_pixel 460 160 $COL_CARD "history's first row"
click 413 38
wait_file "$save/sent_history.json" -E '"sent":[[:space:]]*\[\]'
wait_pixel 460 160 $COL_BG "the cleared list"
back
wait_pixel 20 100 91,91,111 "home screen"

# The received list starts at y 76 with rows 68 px high; its popup's buttons are 64 px apart
# from y 276.
echo "== Copy puts a received message on the system clipboard"
click 181 682 # Receive
wait_pixel 5 600 $COL_BG "receive screen"
click 408 38 # Received
wait_pixel 460 130 $COL_CARD "received list's first row"
click 240 110
wait_pixel 42 300 $COL_POPUP "received actions popup"
click 240 302 # Copy
wait_pixel 42 300 $COL_BG "popup closed after Copy"
copied=""
for _ in $(seq 1 20); do
  copied=$(xclip -selection clipboard -o -t UTF8_STRING 2>/dev/null || true)
  [[ "$copied" == "Grüße aus Köln ¿Qué tal?" ]] && break
  sleep 0.2
done
[[ "$copied" == "Grüße aus Köln ¿Qué tal?" ]] || fail "clipboard holds '$copied'"

echo "== Delete removes a received message from received.json at once"
click 240 178 # the second message, "CQ DE ALPHA"
wait_pixel 42 300 $COL_POPUP "received actions popup"
click 240 494 # Delete
wait_gone "$save/received.json" 'CQ DE ALPHA'
grep -qF 'Grüße aus Köln' "$save/received.json" || fail "Delete removed the wrong message"
wait_pixel 460 178 $COL_BG "the deleted row's place"

echo "== Back closes the received popup, then returns to the receive screen"
click 240 110
wait_pixel 42 300 $COL_POPUP "received actions popup"
back
wait_pixel 42 300 $COL_BG "popup closed by the back key"
wait_pixel 460 130 $COL_CARD "still on the received list"
back
wait_pixel 474 130 $COL_BG "the receive screen"
wait_pixel 460 20 55,55,66 "the receive screen's Received button"
back
wait_pixel 20 100 91,91,111 "home screen"
back
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "quit with status $EXIT_STATUS"

echo "== the WAV holds the resent entry's Morse"
expected=$("$LUMIKEY_BUILD/tests/wav_morse_app" expect "Grüße")
heard=$("$LUMIKEY_BUILD/tests/wav_morse_app" heard "$E2E_TMP/out.wav" 60) || fail "no readable WAV"
[[ "$heard" == "$expected" ]] || fail "the sound says '$heard', not '$expected'"
echo "heard: $heard"

echo "all history and received-list checks passed"
