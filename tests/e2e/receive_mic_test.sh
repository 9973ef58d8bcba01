#!/usr/bin/env bash
# The receive screen listening to the microphone, end to end: a PulseAudio daemon of the test's
# own takes the place of the user's sound server, its default input hears a virtual output,
# and a generated recording played into that output is decoded on the receive screen of the
# real program (meter, live text) and lands in received.json. Skipped, saying why, where no
# sound server can be started.
source "$(dirname "$0")/lib.sh"
gen="$LUMIKEY_BUILD/tests/morse_wav_app"
SAVE="$E2E_TMP/home/.local/share/lumikey"

skip() { echo "SKIP: no sound server for the microphone test: $*"; exit 0; }
command -v paplay >/dev/null || skip "paplay is not installed"

# The daemon: its only output "morse" is a null sink, whose monitor is the default input. With
# LUMIKEY_TEST_SOUND_SERVER=pipewire it is PipeWire's PulseAudio server, as Debian's desktops
# run it, on a session bus of its own.
run="$E2E_TMP/pulse"
mkdir -p "$run" && chmod 700 "$run"
echo "autospawn = no" >"$run/client.conf"
if [[ "${LUMIKEY_TEST_SOUND_SERVER:-}" == pipewire ]]; then
  for tool in pipewire wireplumber pipewire-pulse dbus-run-session pactl; do
    command -v $tool >/dev/null || skip "$tool is not installed"
  done
  socket="$run/pulse/native"
  # A process group of its own, so that the session and the three daemons end together.
  XDG_RUNTIME_DIR="$run" HOME="$run" XDG_CONFIG_HOME="$run" XDG_STATE_HOME="$run" \
    DBUS_SESSION_BUS_ADDRESS='' DISPLAY='' PULSE_SERVER='' \
    setsid dbus-run-session -- sh -c 'pipewire & sleep 0.2; wireplumber & pipewire-pulse & wait' \
    >/dev/null 2>"$run/daemon.log" &
  PULSE_PID=$!
  trap 'kill -- -$PULSE_PID 2>/dev/null || true; cleanup' EXIT
else
  command -v pulseaudio >/dev/null || skip "pulseaudio is not installed"
  socket="$run/native"
  cat >"$run/default.pa" <<EOF
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
load-module module-null-sink sink_name=morse rate=8000
set-default-source morse.monitor
EOF
  XDG_RUNTIME_DIR="$run" PULSE_RUNTIME_PATH="$run" PULSE_STATE_PATH="$run/state" HOME="$run" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --system=no \
    -F "$run/default.pa" --log-target=stderr >/dev/null 2>"$run/daemon.log" &
  PULSE_PID=$!
  trap 'kill $PULSE_PID 2>/dev/null || true; cleanup' EXIT
fi
for _ in $(seq 1 100); do
  [[ -S "$socket" ]] && break
  kill -0 $PULSE_PID 2>/dev/null || skip "the sound server exited at start: $(tail -1 "$run/daemon.log")"
  sleep 0.1
done
[[ -S "$socket" ]] || skip "the sound server did not open its socket within 10 s"
export PULSE_SERVER="unix:$socket" PULSE_CLIENTCONFIG="$run/client.conf"
if [[ "${LUMIKEY_TEST_SOUND_SERVER:-}" == pipewire ]]; then
  pactl load-module module-null-sink sink_name=morse rate=8000 >/dev/null ||
    fail "PipeWire would not make the null sink"
  pactl set-default-source morse.monitor || fail "PipeWire would not take morse.monitor"
fi

# The recording starts at its first tone, with nothing to find the tone by beforehand: the
# first letters are read with hindsight, held back until the speed is known, and none is lost.
# One made outside the project where sox can cut it there: its first two words in Farnsworth
# spacing (letters at 25 WPM, gaps at 12), whose letter gaps the streaming decoder alone takes
# for word gaps. Else the tests' own.
if command -v sox >/dev/null; then
  sox "$LUMIKEY_SOURCE/tests/data/audio/farnsworth-25-12.flac" "$E2E_TMP/cq.wav" trim 0.105 10
  want="FIVE BOXING" want_symbols="..-. .. ...- . / -... --- -..- .. -. --." units="40 56"
else
  "$gen" "$E2E_TMP/cq.wav" wav 8000 1 16 650 clean 0 "CQ CQ TEST"
  want="CQ CQ TEST" want_symbols="-.-. --.- / -.-. --.- / - . ... -" units="60 90"
fi

# A short end-of-message silence keeps the test quick.
mkdir -p "$SAVE"
echo '{ "version": 1, "eom_timeout_ms": 1500 }' >"$SAVE/settings.json"
open_lumikey
click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; sleep 0.5; }
sleep 0.5

echo "== Receive, Microphone, Start: the program listens"
click_at 181 682 # home: "Receive"
click_at 357 102 # "Microphone"
click_at 140 746 # "Start"
wait_log "microphone capturing"

echo "== a message played into the input is decoded, shown and saved"
# A generous buffer: a busy machine must not starve the player into gaps that chop the marks.
paplay --device=morse --latency-msec=500 "$E2E_TMP/cq.wav" &
# Mid-message: the meter's level marker, and the live text once the speed is known.
sleep 1.5
import -window root -crop "456x40+$((WX + 12))+$((WY + 140))" "$E2E_TMP/meter.png"
ink() { # ink FILE COLOUR: pixels of that colour
  convert "$1" -fuzz 6% -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:mean*w*h]' info:
}
text=0
for _ in $(seq 1 40); do
  import -window root -crop "456x200+$((WX + 12))+$((WY + 190))" "$E2E_TMP/live.png"
  text=$(ink "$E2E_TMP/live.png" '#E8EAF0')
  [[ ${text%.*} -gt 50 ]] && break
  grep -q "received '" "$E2E_TMP/log" && break
  sleep 0.2
done
wait_log "received '"
heard=$(sed -n "s/.*received '\\(.*\\)' (unit .*/\\1/p" "$E2E_TMP/log" | head -1)
echo "heard: $heard"
[[ "$heard" == "$want" ]] || fail "heard '$heard', not the whole of $want"
marker=$(ink "$E2E_TMP/meter.png" '#E8EAF0')
[[ ${marker%.*} -gt 20 ]] || fail "no level marker on the meter while the tone played"
[[ ${text%.*} -gt 50 ]] || fail "no live text before the message was saved"
for _ in $(seq 1 50); do grep -qF "$heard" "$SAVE/received.json" 2>/dev/null && break; sleep 0.1; done
python3 - "$SAVE/received.json" "$heard" "$want_symbols" $units <<'PY' || fail "received.json: $(cat "$SAVE/received.json")"
import json, sys, time
m = json.load(open(sys.argv[1]))["received"][0]
assert m["text"] == sys.argv[2], m
assert m["symbols"].startswith(sys.argv[3]), m
assert int(sys.argv[4]) <= m["unit_ms"] <= int(sys.argv[5]), m
assert abs(m["when"] - time.time()) < 60, m
PY
sleep 0.3
import -window root -crop "456x200+$((WX + 12))+$((WY + 190))" "$E2E_TMP/saved.png"
green=$(ink "$E2E_TMP/saved.png" '#00E676')
[[ ${green%.*} -gt 50 ]] || fail "no \"Saved: CQ TEST\" line in green"

echo "== Stop releases the input"
click_at 140 746
wait_log "microphone stopped"

echo "== Escape twice quits cleanly"
escape_twice_quits
echo "PASS"
