#!/usr/bin/env bash
# Sending with the real program under Xvfb: a preset tapped on the home screen flashes the
# window in the light colours in step with the message and sounds it (OpenAL writes the sound
# to a WAV file); a typed message goes to the history; Stop, Escape and Loop.
source "$(dirname "$0")/lib.sh"
CHECK="$(dirname "$0")/send_check.py"
SAVE="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$SAVE"

# Each element kind in a colour of its own, a slow unit so screenshots can follow.
cat >"$SAVE/settings.json" <<'EOF'
{ "version": 1, "unit_ms": 150, "out_screen": true, "out_sound": true, "loop": false,
  "tone_hz": 700, "audio_latency_ms": 60,
  "color_dot": "#FF0000", "color_dash": "#00FF00", "color_gap": "#0000FF",
  "color_letter_gap": "#FFFF00", "color_word_gap": "#FF00FF" }
EOF
# Allegro plays through OpenAL, and OpenAL writes what it plays to a file.
printf '[audio]\ndriver=openal\n' >"$E2E_TMP/home/.allegro5rc"
printf '[general]\ndrivers=wave\n[wave]\nfile=%s\n' "$E2E_TMP/out.wav" >"$E2E_TMP/alsoft.conf"

# Window coordinates: the first preset ("SOS"), the message field, the play panel's Stop (next
# to "Save as preset"), the Loop toggle, and a light pixel above the panel.
SOS_X=240 SOS_Y=214
MSG_X=150 MSG_Y=746
STOP2_X=356 STOP2_Y=744
LOOP_X=396 LOOP_Y=102
LIGHT_X=240 LIGHT_Y=100
HOME_RGB="52,52,62" # the home window's background, left of the preset cards

now_ms() { date +%s%3N; }
click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; }
colour_at() { pixel_at $((WX + $1)) $((WY + $2)); }
# wait_home SECONDS: waits until the home screen is back.
wait_home() {
  for _ in $(seq 1 $(($1 * 10))); do
    [[ "$(colour_at 2 400)" == "$HOME_RGB" ]] && return 0
    sleep 0.1
  done
  fail "the home screen did not come back within $1 s"
}
start() {
  open_lumikey ALSOFT_CONF="$E2E_TMP/alsoft.conf" ALSOFT_DRIVERS=
  wait_home 10
}

echo "== a tapped preset flashes the light colours in step and sounds the tone"
start
expect_log "audio ready"
click_at $SOS_X $SOS_Y
: >"$E2E_TMP/samples"
end=$(($(now_ms) + 5500))
while (($(now_ms) < end)); do
  a=$(now_ms)
  c=$(colour_at $LIGHT_X $LIGHT_Y)
  echo "$a $(now_ms) $c" >>"$E2E_TMP/samples"
  [[ "$c" == "$HOME_RGB" ]] && break
  # One screenshot of the play screen for a human eye.
  [[ -n "${shot:-}" ]] || { shot=1; import -window root -crop "480x800+$WX+$WY" "$LUMIKEY_BUILD/send_play.png"; }
done
cp "$E2E_TMP/samples" "$LUMIKEY_BUILD/send_light_samples.txt"
wait_home 10
problem=$(python3 "$CHECK" light "$E2E_TMP/samples") || fail "light: $problem"
expect_log "playing 18 events, 4050 ms, loop 0, 2 channels"
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
"$LUMIKEY_BUILD/tests/wav_marks_app" "$E2E_TMP/out.wav" >"$E2E_TMP/marks" || fail "no readable WAV"
problem=$(python3 "$CHECK" marks "$E2E_TMP/marks" 700) || fail "sound: $problem"

echo "== a typed message goes on top of the history; Stop ends the send at once"
MESSAGE="Grüße, ça va? ¿Qué tal?"
start
click_at $MSG_X $MSG_Y
sleep 0.2
xdotool type --delay 60 "$MESSAGE"
sleep 0.2
xdotool key Return
sleep 1.5
[[ "$(colour_at 2 400)" != "$HOME_RGB" ]] || fail "no play screen after Enter"
python3 - "$SAVE/sent_history.json" "$MESSAGE" <<'EOF' || fail "sent_history.json: $(cat "$SAVE/sent_history.json")"
import json, sys
sys.exit(0 if json.load(open(sys.argv[1]))["sent"][0] == sys.argv[2] else 1)
EOF
click_at $STOP2_X $STOP2_Y
# The message lasts over 20 s at this speed.
wait_home 3

echo "== Escape ends a send; with Loop on the message repeats until stopped"
click_at $SOS_X $SOS_Y
sleep 1
xdotool key --window "$win" Escape
wait_home 3
kill -0 "$LUMIKEY_PID" || fail "Escape on the play screen ended the program"
click_at $LOOP_X $LOOP_Y
for _ in $(seq 1 50); do grep -q '"loop":[[:space:]]*true' "$SAVE/settings.json" && break; sleep 0.1; done
grep -q '"loop":[[:space:]]*true' "$SAVE/settings.json" || fail "Loop was not saved"
sleep 0.4 # past the back key's bounce time
click_at $SOS_X $SOS_Y
# One pass lasts 4.05 s and the pause before the next 1.05 s.
sleep 7
c=$(colour_at $LIGHT_X $LIGHT_Y)
[[ "$c" != "$HOME_RGB" ]] || fail "the looped send ended by itself"
xdotool key --window "$win" Escape
wait_home 3
expect_log "loop 1"
sleep 0.4
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
echo "all send checks passed"
