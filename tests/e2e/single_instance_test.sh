#!/usr/bin/env bash
# One copy per save folder. Two copies on one HOME would each write their whole lists over the
# other's; a second start brings the first one's window to the front, says why, ends with status
# 0 and writes nothing. When the window cannot be brought forward it says so and ends with 1.
source "$(dirname "$0")/lib.sh"
save="$E2E_TMP/home/.local/share/lumikey"

# second: another copy on the same HOME, in the foreground; its log in $E2E_TMP/second and its
# status in SECOND_STATUS. A copy that does not hand over would run until the timeout.
second() {
  local sanitizer
  mapfile -t sanitizer < <(sanitizer_env "$LUMIKEY_BIN")
  set +e
  env HOME="$E2E_TMP/home" XDG_DATA_HOME= "${sanitizer[@]}" timeout 30 "$LUMIKEY_BIN" \
    2>"$E2E_TMP/second"
  SECOND_STATUS=$?
  set -e
}

# quit: Escape on the home screen ends the first copy with status 0.
quit() {
  xdotool key --window "$win" Escape
  wait_exit 20
  [[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS after Escape"
}

# snapshot: every file of the save folder with its size, modification time and checksum.
snapshot() {
  (cd "$save" && find . -type f -printf '%p %s %T@ ' -exec md5sum {} \; | sort)
}

echo "== a second start brings the hidden first window back and writes nothing"
open_lumikey
xdotool windowunmap "$win"
wait_log "window hidden"
before=$(snapshot)
second
[[ $SECOND_STATUS -eq 0 ]] || { cat "$E2E_TMP/second" >&2; fail "second copy: status $SECOND_STATUS"; }
grep -q "Lumikey already runs on this save folder (process $LUMIKEY_PID): its window is brought to the front" \
  "$E2E_TMP/second" || { cat "$E2E_TMP/second" >&2; fail "the second copy did not say why it ended"; }
if grep -q "started" "$E2E_TMP/second"; then fail "the second copy started a window"; fi
wait_log "window shown again"
[[ -n $(xdotool search --onlyvisible --pid "$LUMIKEY_PID" --name '^Lumikey$' 2>/dev/null) ]] ||
  fail "the first window is not visible again"
[[ "$(snapshot)" == "$before" ]] || fail "the second copy changed the save folder"
quit

echo "== a lock held by a process without a window (this script): said on standard error, status 1"
before=$(snapshot)
exec 9<"$save/lumikey.lock"
flock -n 9 || fail "the lock was still held after the first copy quit"
second
exec 9<&-
[[ $SECOND_STATUS -eq 1 ]] || { cat "$E2E_TMP/second" >&2; fail "status $SECOND_STATUS, not 1"; }
grep -q "but its window could not be brought to the front" "$E2E_TMP/second" ||
  { cat "$E2E_TMP/second" >&2; fail "the failure was not said"; }
[[ "$(snapshot)" == "$before" ]] || fail "the refused copy changed the save folder"

echo "== the lock left behind holds nothing: the next start is a normal one"
open_lumikey
quit

echo "all single-instance checks passed"
