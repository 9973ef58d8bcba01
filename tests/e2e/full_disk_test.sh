#!/usr/bin/env bash
# A full disk loses nothing and hides nothing: a message typed while the save folder is full
# shows in the history, the user is told it could not be saved, and it reaches
# sent_history.json once there is room again, by the program's own retry or at the latest when
# it quits. The save folder is a small tmpfs filled to the last byte; where nothing can be
# mounted, a folder in the way of the temporary file makes the writes fail instead.
source "$(dirname "$0")/lib.sh"
save="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$save"
mounted=0
if mount -t tmpfs -o size=512k tmpfs "$save" 2>/dev/null; then
  mounted=1
  trap 'cleanup_mount' EXIT
fi
cleanup_mount() {
  [[ -n "$LUMIKEY_PID" ]] && kill -9 "$LUMIKEY_PID" 2>/dev/null && wait "$LUMIKEY_PID" 2>/dev/null
  LUMIKEY_PID=""
  umount "$save" 2>/dev/null || umount -l "$save" 2>/dev/null || true
  cleanup
}

MSG_X=150 MSG_Y=746
# Inside the notice popup's left margin, which shows its background only while it is open.
NOTICE_X=54 NOTICE_Y=300 NOTICE_RGB="38,42,52"

fill_disk() {
  if ((mounted)); then
    dd if=/dev/zero of="$save/filler" bs=4k 2>/dev/null || true
  else
    mkdir "$save/sent_history.json.tmp"
  fi
}
free_disk() { rm -rf "$save/filler" "$save/sent_history.json.tmp"; }
click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.1; xdotool click 1; sleep 0.3; }
key() { sleep 0.4; xdotool key --window "$win" "$1"; }
notice_open() { [[ "$(pixel_at $((WX + NOTICE_X)) $((WY + NOTICE_Y)))" == "$NOTICE_RGB" ]]; }
wait_notice() {
  for _ in $(seq 1 50); do notice_open && return 0; sleep 0.1; done
  fail "the save notice did not open"
}
# send TEXT: types TEXT into the home screen's message field and sends it, then stops the send.
send() {
  click_at $MSG_X $MSG_Y
  xdotool type --delay 30 "$1"
  xdotool key Return
  sleep 0.5
  key Escape # stops the send: back home
}
history_has() { grep -qF "\"$1\"" "$save/sent_history.json" 2>/dev/null; }

echo "== a message typed on a full disk is kept, the user is told, and it is written later"
open_lumikey
fill_disk
send "FULL DISK"
wait_log "could not save sent_history.json"
wait_log "sent messages kept unsaved, to be saved again"
wait_notice
history_has "FULL DISK" && fail "the history claims a write on a full disk"
[[ ! -e "$save/sent_history.json.tmp" ]] || ((!mounted)) || fail "a temporary file was left behind"
free_disk
for _ in $(seq 1 100); do history_has "FULL DISK" && break; sleep 0.1; done
history_has "FULL DISK" || fail "the message never reached sent_history.json"
wait_log "sent messages saved again"
notice_open || fail "the notice closed by itself"
key Escape # closes the notice, not the program
sleep 0.4
notice_open && fail "Escape did not close the notice"
kill -0 "$LUMIKEY_PID" || fail "Escape with the notice open ended the program"

echo "== quitting while a failed save waits for its retry writes it at exit"
fill_disk
send "SECOND"
wait_log "sent messages kept unsaved"
free_disk
key Escape # the notice
key Escape # the program
wait_exit 20
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS after Escape"
history_has "SECOND" || fail "the second message was lost at exit"
history_has "FULL DISK" || fail "the first message was lost"
if grep -q "changed since the last save are lost" "$E2E_TMP/log"; then fail "a loss was logged"; fi

echo "all full-disk checks passed"
