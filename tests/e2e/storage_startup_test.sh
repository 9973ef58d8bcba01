#!/usr/bin/env bash
# The real program's files at start-up: the default presets of the language on first run, the
# user's files on the next, and the stop when there are neither presets nor defaults.
source "$(dirname "$0")/lib.sh"
save="$E2E_TMP/home/.local/share/lumikey"

# run [env...]: the program with a private HOME and no language from the environment but
# the one given.
run() { start_lumikey LC_ALL= LC_MESSAGES= LANG= "$@"; }

# quit: Escape on the program's window, then status 0.
quit() {
  local win
  win=$(wait_window)
  xdotool key --window "$win" Escape
  wait_exit 20
  [[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS after Escape"
}

echo "== first run installs and saves the default presets of the system language"
run LANG=fr_FR.UTF-8
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
run LANG=fr_FR.UTF-8
for line in "settings loaded" "25 presets loaded" "2 sent messages loaded" \
  "1 received messages loaded" "started"; do
  wait_log "$line"
done
quit

echo "== rejected files are kept aside; presets come back from the settings' language"
echo '[1, 2, 3]' >"$save/presets.json"
echo '{"sent": "not a list"}' >"$save/sent_history.json"
run
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

echo "== a second damaged file is kept beside the first, under the name the log gives"
echo '{"presets": "second damage"}' >"$save/presets.json"
run
wait_log "first run: 25 default presets installed (presets/defaults_de.json)"
quit
second=$(sed -n 's/.*presets\.json could not be used, kept as \(presets\.json\..*\.rejected\)$/\1/p' \
  "$E2E_TMP/log")
[[ "$second" =~ ^presets\.json\.[0-9]{8}-[0-9]{6}(-[0-9]+)?\.rejected$ ]] ||
  fail "second rejected copy not named with its time: '$second'"
[[ "$(cat "$save/presets.json.rejected")" == '[1, 2, 3]' ]] || fail "first rejected copy replaced"
grep -qF 'second damage' "$save/$second" || fail "second rejected copy not kept as $second"

echo "== a setting changed while a failed save waits for its retry is written at exit"
rm -f "$save/settings.json"
run
win=$(wait_window)
wait_log "started"
hold_setting_unsaved
# The first Escape closes the notice that told of the failed save; the second quits.
xdotool key --window "$win" Escape
sleep 0.4
xdotool key --window "$win" Escape
wait_exit 20
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS after Escape"
expect_log "settings saved at exit"
setting_was_saved

echo "== neither presets.json nor a defaults file: start-up fails"
echo '[1, 2, 3]' >"$save/presets.json"
rm "$save/settings.json"
in_bare_folder run
wait_exit 20
[[ $EXIT_STATUS -eq 1 ]] || fail "status $EXIT_STATUS, not 1"
for line in "asset assets/presets/defaults_en.json not found" \
  "first run: -1 default presets installed (presets/defaults_en.json)" "init failed, exiting"; do
  expect_log "$line"
done
[[ "$(cat "$save/presets.json.rejected")" == '[1, 2, 3]' ]] || fail "rejected presets not kept"
grep -qF 'second damage' "$save/$second" || fail "second rejected copy lost"
[[ $(find "$save" -name 'presets.json.*.rejected' | wc -l) -eq 2 ]] ||
  fail "the third damaged file was not kept beside the other two"

echo "== more presets than the list holds: the first are used, the whole file is kept aside"
python3 - "$save/presets.json" <<'PY'
import json, sys
presets = [{"id": i + 1, "text": "P%d" % (i + 1)} for i in range(1001)]
json.dump({"version": 1, "presets": presets}, open(sys.argv[1], "w"))
PY
run
wait_log "presets.json: 1 presets past the first 1000 left out"
wait_log "1000 presets loaded"
wait_log "started"
quit
kept=$(sed -n 's/.*presets\.json held 1 presets more than 1000, kept whole as \(.*\)$/\1/p' "$E2E_TMP/log")
[[ -n "$kept" ]] && grep -qF '"P1001"' "$save/$kept" || fail "the whole file was not kept aside"
python3 -c 'import json, sys; p = json.load(open(sys.argv[1]))["presets"]; sys.exit(len(p) != 1000 or p[-1]["text"] != "P1000")' \
  "$save/presets.json" || fail "presets.json does not hold the first 1000"

echo "all storage start-up checks passed"
