#!/usr/bin/env bash
# The real program ended from outside: the signals of a logout, `kill` and Ctrl+C quit it as
# Escape does, saving what is unsaved, and the X server going away ends it with status 1 after
# the same save, without an abort.
source "$(dirname "$0")/lib.sh"

echo "== SIGTERM with an unsaved setting: the setting is written, status 0"
open_lumikey
hold_setting_unsaved
kill -TERM "$LUMIKEY_PID"
wait_exit 20
[[ $EXIT_STATUS -eq 0 ]] || fail "SIGTERM ended with status $EXIT_STATUS"
expect_log "SIGTERM received, quitting"
expect_log "settings saved at exit"
expect_log "Lumikey shut down"
setting_was_saved

for signal in INT HUP; do
  echo "== SIG$signal: status 0 after the normal shutdown"
  open_lumikey
  kill -"$signal" "$LUMIKEY_PID"
  wait_exit 20
  [[ $EXIT_STATUS -eq 0 ]] || fail "SIG$signal ended with status $EXIT_STATUS"
  expect_log "SIG$signal received, quitting"
  expect_log "Lumikey shut down"
done

echo "== the X server goes away: the unsaved setting is written, status 1, no abort"
rm "$E2E_TMP/home/.local/share/lumikey/settings.json"
shared_display=$DISPLAY
fifo="$E2E_TMP/displayfd"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 800x900x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
xvfb=$!
read -r -t 20 number <"$fifo" || fail "the private Xvfb did not start"
export DISPLAY=":$number"
open_lumikey
hold_setting_unsaved
kill "$xvfb"
wait_exit 20
export DISPLAY=$shared_display
[[ $EXIT_STATUS -eq 1 ]] || fail "losing the display ended with status $EXIT_STATUS"
expect_log "the connection to the X server was lost"
expect_log "settings saved at exit"
expect_log "Lumikey ended without its display"
setting_was_saved

echo "all ending checks passed"
