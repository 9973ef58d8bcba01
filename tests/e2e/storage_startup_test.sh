#!/usr/bin/env bash
# The real program's files at start-up: the default presets of the language on first run, the
# user's files on the next, and the stop when there are neither presets nor defaults.
set -euo pipefail
: "${LUMIKEY_BIN:?}"
tmp=$(mktemp -d)
pid=""
trap '[[ -n "$pid" ]] && kill -9 "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
save="$tmp/home/.local/share/lumikey"

fail() {
  echo "FAIL: $*" >&2
  cat "$tmp/log" >&2 2>/dev/null || true
  exit 1
}
# run BINARY [env...]: starts the program with a private HOME, its log in $tmp/log.
run() {
  local bin=$1
  shift
  mkdir -p "$tmp/home"
  env HOME="$tmp/home" XDG_DATA_HOME= LC_ALL= LC_MESSAGES= LANG= "$@" "$bin" 2>"$tmp/log" &
  pid=$!
}
wait_log() {
  for _ in $(seq 1 150); do
    grep -qF -- "$1" "$tmp/log" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -qF -- "$1" "$tmp/log" || fail "log never said: $1"
}
# quit: Escape on the program's window, then status 0.
quit() {
  local win=""
  for _ in $(seq 1 100); do
    win=$(xdotool search --onlyvisible --pid "$pid" --name '^Lumikey$' 2>/dev/null | head -1 || true)
    [[ -n "$win" ]] && break
    sleep 0.1
  done
  [[ -n "$win" ]] || fail "no window"
  xdotool key --window "$win" Escape
  finish
  [[ $status -eq 0 ]] || fail "status $status after Escape"
}
finish() {
  for _ in $(seq 1 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  set +e; wait "$pid"; status=$?; set -e
  pid=""
}

echo "== first run installs and saves the default presets of the system language"
run "$LUMIKEY_BIN" LANG=fr_FR.UTF-8
wait_log "first run: 25 default presets installed (presets/defaults_fr.json)"
wait_log "started"
grep -q '"lang":	"fr"' "$save/presets.json" || fail "presets.json does not hold the French defaults"
quit
[[ ! -e "$save/settings.json" ]] || fail "clean settings were written"

echo "== the next run reads the user's files"
cat >"$save/settings.json" <<'JSON'
{"tone_hz": 800, "lang": "de"}
JSON
cat >"$save/sent_history.json" <<'JSON'
{"version": 1, "sent": ["ONE", "TWO"]}
JSON
cat >"$save/received.json" <<'JSON'
{"version": 1, "next_id": 2, "received": [{"id": 1, "when": 0, "text": "CQ", "symbols": "-.-. --.-", "unit_ms": 80}]}
JSON
run "$LUMIKEY_BIN" LANG=fr_FR.UTF-8
for line in "settings loaded" "25 presets loaded" "2 sent messages loaded" \
  "1 received messages loaded" "started"; do
  wait_log "$line"
done
quit

echo "== rejected files are kept aside; presets come back from the settings' language"
echo '[1, 2, 3]' >"$save/presets.json"
echo '{"sent": "not a list"}' >"$save/sent_history.json"
run "$LUMIKEY_BIN"
wait_log "presets.json: not a preset document"
wait_log "presets.json could not be used, kept as presets.json.rejected"
wait_log "first run: 25 default presets installed (presets/defaults_de.json)"
wait_log "sent_history.json could not be used, kept as sent_history.json.rejected"
wait_log "started"
quit
[[ "$(cat "$save/presets.json.rejected")" == '[1, 2, 3]' ]] || fail "rejected presets not kept"
grep -q '"lang":	"de"' "$save/presets.json" || fail "presets.json does not hold the German defaults"
grep -qF 'not a list' "$save/sent_history.json.rejected" || fail "rejected history not kept"
[[ ! -e "$save/sent_history.json" ]] || fail "a history was written without a send"

echo "== neither presets.json nor a defaults file: start-up fails"
mkdir -p "$tmp/bare"
cp "$LUMIKEY_BIN" "$tmp/bare/lumikey"
echo '[1, 2, 3]' >"$save/presets.json"
rm "$save/settings.json"
# Started from a folder without assets, so no defaults file can be found.
cd "$tmp/bare"
run ./lumikey
cd - >/dev/null
finish
[[ $status -eq 1 ]] || fail "status $status, not 1"
for line in "asset assets/presets/defaults_en.json not found" \
  "first run: -1 default presets installed (presets/defaults_en.json)" "init failed, exiting"; do
  grep -qF "$line" "$tmp/log" || fail "log lacks: $line"
done
[[ "$(cat "$save/presets.json.rejected")" == '[1, 2, 3]' ]] || fail "rejected presets not kept"

echo "all storage start-up checks passed"
