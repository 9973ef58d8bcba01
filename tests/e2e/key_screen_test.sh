#!/usr/bin/env bash
# The key screen on the real program, keyed by a scripted operator through the X server (see
# xtest_operator_app): "CQ"
# with the mouse on the pad in "Send by tap", "PARIS" with the Ctrl paddle keys in "Paddles" and
# with Space in "Transcribe". OpenAL writes the sound to a WAV file, so the sidetone is checked
# as heard: one ramped tone per mark while sending, silence while transcribing.
# ctest-label: threaded
source "$(dirname "$0")/lib.sh"

MARKS="$LUMIKEY_BUILD/tests/wav_marks_app"
OPERATOR="$LUMIKEY_BUILD/tests/xtest_operator_app"
SAVE=$E2E_TMP/home/.local/share/lumikey
WAV=$E2E_TMP/out.wav
mkdir -p "$SAVE"
# 12 WPM, a short end-of-message silence, sound and screen on, in "Send by tap".
cat >"$SAVE/settings.json" <<JSON
{"version": 1, "unit_ms": 100, "eom_timeout_ms": 1500, "out_sound": 1, "out_screen": 1,
 "key_mode": 0, "tone_hz": 700, "color_dot": "#FFFFFF", "color_gap": "#000000"}
JSON
printf '[general]\ndrivers=wave\n[wave]\nfile=%s\n' "$WAV" >"$E2E_TMP/alsoft.conf"

start_lumikey ALSOFT_CONF="$E2E_TMP/alsoft.conf" ALSOFT_DRIVERS=wave
win=$(wait_window)
wait_log "started"
eval "$(xdotool getwindowgeometry --shell "$win")"
# Where the layout puts things at 480 x 800 and scale 1.
click_at() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1; }

# mark_lines: the tones heard so far, one "mark START LENGTH HZ RISE FALL" line each.
mark_lines() { "$MARKS" "$WAV" | grep '^mark' || true; }

echo "== Send by tap: CQ with the mouse, decoded on screen, kept in the history"
click_at 298 682 # the home screen's "Key"
wait_log "sidetone running: 700 Hz"
xdotool mousemove --sync $((X + 240)) $((Y + 560))
# The operator keys a 100 ms unit; the X server's event times carry a few ms of its own jitter.
keyed() { printf "keyed '%s' \\(unit (9[5-9]|10[0-5]) ms\\)" "$1"; }
wait_keyed() {
  for _ in $(seq 1 100); do
    grep -qE -- "$(keyed "$1")" "$E2E_TMP/log" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "log never said: keyed '$1' at a unit of about 100 ms"
}
"$OPERATOR" button 100 CQ >/dev/null
# The live text (before the end-of-message silence): the decoded letters in the big font.
import -window root -crop "456x148+$((X + 12))+$((Y + 140))" "$E2E_TMP/live.png"
read -r ink_w ink_h _ < <(convert "$E2E_TMP/live.png" -fuzz 6% -fill black +opaque '#E8EAF0' \
  -trim -format '%w %h %X\n' info: 2>/dev/null)
[[ $ink_w -ge 35 && $ink_w -le 60 && $ink_h -ge 20 ]] ||
  fail "the live text is ${ink_w}x${ink_h} pixels of text colour, not two big letters"
wait_keyed CQ
click_at 414 326 # "Keep"
for _ in $(seq 1 50); do grep -q '"CQ"' "$SAVE/sent_history.json" 2>/dev/null && break; sleep 0.1; done
grep -q '"CQ"' "$SAVE/sent_history.json" || fail "CQ is not in sent_history.json"
import -window root -crop "456x148+$((X + 12))+$((Y + 140))" "$E2E_TMP/kept.png"
green=$(convert "$E2E_TMP/kept.png" -fuzz 6% -fill black +opaque '#00E676' -fill white -opaque '#00E676' \
  -format '%[fx:mean*w*h]' info:)
[[ ${green%.*} -gt 50 ]] || fail "no \"Message: CQ\" line in green after the message ended"

# C and Q: dah dit dah dit, dah dah dit dah, each heard for its own length with ramped edges.
sleep 0.5
mapfile -t marks < <(mark_lines)
[[ ${#marks[@]} -eq 8 ]] || fail "heard ${#marks[@]} tones for CQ, not 8: ${marks[*]}"
want=(300 100 300 100 300 300 100 300)
for i in "${!marks[@]}"; do
  read -r _ start len hz rise fall <<<"${marks[$i]}"
  awk -v l="$len" -v w="${want[$i]}" -v h="$hz" -v r="$rise" -v f="$fall" 'BEGIN {
    exit !(l > w - 45 && l < w + 45 && h > 630 && h < 770 && r >= 2 && r <= 8 && f >= 2 && f <= 8) }' ||
    fail "tone $i is \"${marks[$i]}\": want ${want[$i]} ms of about 700 Hz with 2-8 ms ramps"
done

echo "== Paddles: PARIS with Left and Right Ctrl"
click_at 240 102 # "Paddles"
wait_log "sidetone running: 700 Hz"
sleep 0.3
"$OPERATOR" ctrl 100 PARIS >/dev/null
wait_keyed PARIS
sleep 0.5
n=$(mark_lines | wc -l)
[[ $n -eq 22 ]] || fail "heard $((n - 8)) tones for PARIS from the paddles, not 14"

echo "== Transcribe: PARIS with Space, silent, kept in the received list"
click_at 396 102 # "Transcribe"
sleep 0.5
"$OPERATOR" space 100 PARIS >/dev/null
for _ in $(seq 1 100); do
  [[ $(grep -cE "$(keyed PARIS)" "$E2E_TMP/log") -ge 2 ]] && break
  sleep 0.1
done
[[ $(grep -cE "$(keyed PARIS)" "$E2E_TMP/log") -eq 2 ]] || fail "Transcribe decoded no PARIS"
click_at 414 326 # "Keep"
for _ in $(seq 1 50); do grep -q '"PARIS"' "$SAVE/received.json" 2>/dev/null && break; sleep 0.1; done
grep -q '"PARIS"' "$SAVE/received.json" || fail "PARIS is not in received.json"
grep -q '"PARIS"' "$SAVE/sent_history.json" && fail "a transcribed message went to the history"

xdotool key --window "$win" Escape
sleep 0.5
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "quit with status $EXIT_STATUS"
n=$(mark_lines | wc -l)
[[ $n -eq 22 ]] || fail "transcribing was heard: $((n - 22)) more tones"

echo "all key screen checks passed"
