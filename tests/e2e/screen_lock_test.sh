#!/usr/bin/env bash
# ctest-label: threaded
# The screen-on lock seen from outside the program: the X server's screen saver, set to come on
# after 1 s without input, stays off while a send plays (the window shown or hidden) and comes on
# again once it stopped; a desktop session's locker on the session bus (a double on a private
# bus) is asked to wait and let go in step. The saver's state is read with
# XScreenSaverQueryInfo by saver_probe_app, as a session's idle watcher reads it.
source "$(dirname "$0")/lib.sh"
PROBE="$LUMIKEY_BUILD/tests/saver_probe_app"
SAVE="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$SAVE"
# A looping send, so it lasts until stopped.
cat >"$SAVE/settings.json" <<'JSON'
{ "version": 1, "unit_ms": 80, "out_screen": true, "out_sound": true, "loop": true,
  "keep_screen_on": true, "run_locked": true }
JSON

OLD_TIMEOUT=$("$PROBE" get)
BUS_PID="" LOCKER_PID=""
finish() {
  # The display is shared with the tests that follow: its saver goes back as it was.
  "$PROBE" timeout "$OLD_TIMEOUT" || true
  [[ -n "$LOCKER_PID" ]] && kill "$LOCKER_PID" 2>/dev/null
  [[ -n "$BUS_PID" ]] && kill "$BUS_PID" 2>/dev/null
  cleanup
}
trap finish EXIT

# A private session bus with the locker double on it.
dbus-daemon --session --nofork --address="unix:path=$E2E_TMP/bus" 2>/dev/null &
BUS_PID=$!
BUS="unix:path=$E2E_TMP/bus"
for _ in $(seq 1 50); do [[ -S "$E2E_TMP/bus" ]] && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$BUS /usr/bin/python3 "$(dirname "$0")/fake_locker.py" >"$E2E_TMP/locker" 2>&1 &
LOCKER_PID=$!
for _ in $(seq 1 50); do grep -q ready "$E2E_TMP/locker" && break; sleep 0.1; done
grep -q ready "$E2E_TMP/locker" || fail "the locker double did not start: $(cat "$E2E_TMP/locker")"

saver() { "$PROBE" state; }
# wait_saver STATE SECONDS: until the saver reads STATE.
wait_saver() {
  for _ in $(seq 1 $(($2 * 10))); do
    [[ "$(saver | cut -d' ' -f1)" == "$1" ]] && return 0
    sleep 0.1
  done
  fail "the screen saver did not become $1 within $2 s (now: $(saver))"
}
# held_off SECONDS: no input for SECONDS, well past the saver's timeout, and still off.
held_off() {
  sleep "$1"
  local state idle
  read -r state idle < <(saver)
  ((idle >= 1500)) || fail "input came in meanwhile (idle $idle ms)"
  [[ "$state" != "on" ]] || fail "the screen saver came on during the send (idle $idle ms)"
}

"$PROBE" timeout 1
start_lumikey PULSE_SERVER=unix:/nonexistent DBUS_SESSION_BUS_ADDRESS="$BUS"
win=$(wait_window)
wait_log "started"
eval "$(xdotool getwindowgeometry --shell "$win")"

echo "== idle, the saver comes on after its timeout"
wait_saver on 6

echo "== a send holds it off, and the session's locker is asked to wait"
xdotool mousemove $((X + 240)) $((Y + 214)) click 1 # the first preset
wait_log "playing"
held_off 2.5
wait_log "screen locker asked to wait (cookie 41)"
grep -q "^Inhibit Lumikey -> 41" "$E2E_TMP/locker" || fail "locker: $(cat "$E2E_TMP/locker")"

echo "== a hidden window goes on sending (background work allowed) and keeps the saver off"
xdotool windowunmap "$win"
wait_log "halted: playback kept, receiver stopped"
held_off 2.5
xdotool windowmap "$win"
wait_log "resumed drawing, display 480x800"
grep -q "UnInhibit" "$E2E_TMP/locker" && fail "the locker was let go while the send went on"

echo "== Stop lets go of both"
sleep 0.4
xdotool key --window "$win" Escape
wait_saver on 6
for _ in $(seq 1 50); do grep -q "^UnInhibit 41" "$E2E_TMP/locker" && break; sleep 0.1; done
grep -q "^UnInhibit 41" "$E2E_TMP/locker" || fail "locker not let go: $(cat "$E2E_TMP/locker")"
expect_log "screen locker released (cookie 41)"

echo "== quit"
sleep 0.4
xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
echo "ok"
