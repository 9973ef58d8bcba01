# Shared helpers of the end-to-end scripts: start the real binary with a private HOME, find
# its window, and check what it logged.
set -euo pipefail

: "${LUMIKEY_BIN:?}" "${LUMIKEY_BUILD:?}"
E2E_TMP=$(mktemp -d)
LUMIKEY_PID=""
cleanup() {
  if [[ -n "$LUMIKEY_PID" ]] && kill -0 "$LUMIKEY_PID" 2>/dev/null; then
    kill -9 "$LUMIKEY_PID" 2>/dev/null || true
  fi
  rm -rf "$E2E_TMP"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [[ -f "$E2E_TMP/log" ]] && { echo "--- program log:" >&2; cat "$E2E_TMP/log" >&2; }
  exit 1
}

# sanitizer_env PROGRAM: the environment assignments PROGRAM needs, one a line; none unless it
# was built with AddressSanitizer. Its leaks are checked at exit as in the unit tests: with the
# fast unwinder (the slow one deadlocks as soon as llvmpipe compiles a shader: it allocates
# while holding the unwinder's own lock), the suppressions, and the GL driver kept mapped to the
# end so that they can name its leftovers. The sanitizer's runtime must come first.
sanitizer_env() {
  local asan
  # awk reads to the end: ldd cut off by a closed pipe would fail the pipeline (pipefail).
  asan=$(ldd "$1" 2>/dev/null | awk '/libasan/ && !found { print $3; found = 1 }')
  [[ -n "$asan" ]] || return 0
  echo "LD_PRELOAD=$asan:$LUMIKEY_BUILD/tests/libpin_gl_driver.so"
  echo "LSAN_OPTIONS=suppressions=${LUMIKEY_LSAN_SUPP:-/dev/null}"
  echo "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=1"
}

# start_lumikey [env assignments...]: runs the program in the background, log in $E2E_TMP/log.
start_lumikey() {
  mkdir -p "$E2E_TMP/home"
  local sanitizer
  mapfile -t sanitizer < <(sanitizer_env "$LUMIKEY_BIN")
  # A script's background job would ignore SIGINT; the program gets it as from a terminal.
  env --default-signal=INT HOME="$E2E_TMP/home" XDG_DATA_HOME= "${sanitizer[@]}" "$@" \
    "$LUMIKEY_BIN" 2>"$E2E_TMP/log" &
  LUMIKEY_PID=$!
}

# open_lumikey [VAR=VALUE...]: starts the program, waits for its window and its "started"
# line, and sets win and the window's position on the screen, WX and WY.
open_lumikey() {
  start_lumikey "$@"
  win=$(wait_window)
  wait_log "started"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  WX=$X WY=$Y
}

# escape_twice_quits: from a screen one below home, Escape twice must end the program with
# status 0 and no sanitizer report.
escape_twice_quits() {
  sleep 0.4; xdotool key --window "$win" Escape; sleep 0.5; xdotool key --window "$win" Escape
  wait_exit 20
  [[ $EXIT_STATUS -eq 0 ]] || fail "quit with status $EXIT_STATUS"
  if grep -q "Sanitizer" "$E2E_TMP/log"; then fail "a sanitizer reported a fault"; fi
}

# hold_setting_unsaved: on the home screen of window $win, switches the screen light off while
# settings.json cannot be written, and mends the disk once three saves have failed. The next
# retry is 4 s away then, so for that long the change is held in memory only, and whatever ends
# the program meanwhile must write it (check with setting_was_saved).
hold_setting_unsaved() {
  local save="$E2E_TMP/home/.local/share/lumikey"
  mkdir "$save/settings.json.tmp"
  # The home screen's first output toggle, "Screen", switches the screen light off.
  xdotool mousemove --window "$win" 30 100 click 1
  for _ in $(seq 1 100); do
    [[ $(grep -c "could not save settings.json" "$E2E_TMP/log") -ge 3 ]] && break
    sleep 0.1
  done
  [[ $(grep -c "could not save settings.json" "$E2E_TMP/log") -ge 3 ]] || fail "saves did not fail"
  rmdir "$save/settings.json.tmp"
}

# setting_was_saved: the change hold_setting_unsaved made is in settings.json.
setting_was_saved() {
  local file="$E2E_TMP/home/.local/share/lumikey/settings.json"
  grep -q '"out_screen":	false' "$file" ||
    fail "the changed setting was not written: $(cat "$file" 2>&1)"
}

# wait_window [NAME_PATTERN]: prints the id of our process's window (by default the one named
# "Lumikey") once it is mapped.
wait_window() {
  local name=${1:-'^Lumikey$'} id
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --pid "$LUMIKEY_PID" --name "$name" 2>/dev/null | head -1 || true)
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    kill -0 "$LUMIKEY_PID" 2>/dev/null || fail "program exited before its window appeared"
    sleep 0.1
  done
  fail "no window matching $name appeared"
}

# in_bare_folder COMMAND...: runs COMMAND (start_lumikey or a wrapper of it) on a copy of the
# binary in a folder without assets, so no font, translation or defaults file can be found.
in_bare_folder() {
  mkdir -p "$E2E_TMP/bare"
  cp "$LUMIKEY_BIN" "$E2E_TMP/bare/lumikey"
  LUMIKEY_BIN=./lumikey
  cd "$E2E_TMP/bare"
  "$@"
  cd - >/dev/null
}

# wait_exit SECONDS: waits for the program to end and sets EXIT_STATUS.
wait_exit() {
  local limit=$(( $1 * 10 ))
  for _ in $(seq 1 "$limit"); do
    if ! kill -0 "$LUMIKEY_PID" 2>/dev/null; then
      set +e; wait "$LUMIKEY_PID"; EXIT_STATUS=$?; set -e
      LUMIKEY_PID=""
      return 0
    fi
    sleep 0.1
  done
  fail "program did not exit within $1 s"
}

# wait_log TEXT: waits up to 10 s for TEXT in the program's log.
wait_log() {
  for _ in $(seq 1 100); do
    grep -qF -- "$1" "$E2E_TMP/log" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "log never said: $1"
}

# has_own_icon WINDOW: the window carries the program's 128 px icon, a picture and not a blank,
# within five seconds: the program sets it before it logs that it started, but the property
# reaches the X server with the program's next exchange with it, which a loaded machine may hold
# back past that line of the log.
has_own_icon() {
  for _ in $(seq 1 50); do
    _icon_is_own "$1" && return 0
    sleep 0.1
  done
  return 1
}

_icon_is_own() {
  local values
  values=$(xprop -id "$1" -notype 32c _NET_WM_ICON | sed 's/^_NET_WM_ICON = //' | tr -d ' ' | tr ',' '\n')
  [[ "$(head -2 <<<"$values" | tr '\n' ' ')" == "128 128 " ]] || return 1
  [[ $(wc -l <<<"$values") -eq $((2 + 128 * 128)) ]] || return 1
  [[ $(tail -n +3 <<<"$values" | sort -u | wc -l) -gt 2 ]]
}

expect_log() { grep -qF -- "$1" "$E2E_TMP/log" || fail "log lacks: $1"; }

# pixel_at X Y: the "r,g,b" of the screen at root coordinates.
pixel_at() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1,\2,\3/p' | head -1
}
