#!/usr/bin/env bash
# The preset editor of the real program under Xvfb: a preset made with "+ New", edited from its
# actions and deleted, each change checked in presets.json; Escape leaves the editor unsaved.
source "$(dirname "$0")/lib.sh"
SAVE="$E2E_TMP/home/.local/share/lumikey"
PRESETS="$SAVE/presets.json"
mkdir -p "$SAVE"
export PULSE_SERVER=unix:/nonexistent
cat >"$PRESETS" <<'JSON'
{ "version": 1, "presets": [ { "id": 1, "name": "SOS", "text": "SOS", "category": "emergency" } ] }
JSON

# Window coordinates at 480 x 800: "+ New", the editor's message and name fields and Save, the
# row of the first preset under "My presets", and the actions popup's Edit and Delete and the
# confirmation's Yes.
NEW_X=413 NEW_Y=38
MSG_X=240 MSG_Y=146 NAME_X=240 NAME_Y=345 SAVE_X=357 SAVE_Y=515
ROW_Y=322
EDIT_Y=336 DELETE_Y=528 YES_X=147 YES_Y=354

click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.1; xdotool click 1; sleep 0.4; }
hold_at() {
  xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05
  xdotool mousedown 1; sleep 0.9; xdotool mouseup 1; sleep 0.4
}
# presets: "id|name|text|category" per preset, in list order.
presets() {
  python3 -c 'import json,sys
for p in json.load(open(sys.argv[1]))["presets"]: print("%s|%s|%s|%s" % (p["id"], p["name"], p["text"], p["category"]))' "$PRESETS"
}
wait_presets() {
  for _ in $(seq 1 30); do [[ "$(presets | tr '\n' ';')" == "$1" ]] && return 0; sleep 0.1; done
  fail "presets.json holds $(presets | tr '\n' ';') instead of $1"
}

open_lumikey
sleep 0.5

echo "== + New, a message and a name, Save"
click_at $NEW_X $NEW_Y
xdotool type --delay 40 "MEET AT NOON"
click_at $NAME_X $NAME_Y
xdotool type --delay 40 "Meeting"
click_at $SAVE_X $SAVE_Y
wait_presets "1|SOS|SOS|emergency;2|Meeting|MEET AT NOON|custom;"

echo "== Escape leaves the editor without saving"
click_at $NEW_X $NEW_Y
xdotool type --delay 40 "DISCARD ME"
sleep 0.3
xdotool key --window "$win" Escape
sleep 0.6
kill -0 "$LUMIKEY_PID" || fail "Escape in the editor ended the program"
wait_presets "1|SOS|SOS|emergency;2|Meeting|MEET AT NOON|custom;"

echo "== Edit from the preset's actions: the new text replaces the old, name and id stay"
hold_at 240 $ROW_Y
click_at 240 $EDIT_Y
click_at $MSG_X $MSG_Y
xdotool key --window "$win" ctrl+a
xdotool type --delay 40 "MEET AT ONE"
click_at $SAVE_X $SAVE_Y
wait_presets "1|SOS|SOS|emergency;2|Meeting|MEET AT ONE|custom;"

echo "== Delete, confirmed"
hold_at 240 $ROW_Y
click_at 240 $DELETE_Y
click_at $YES_X $YES_Y
wait_presets "1|SOS|SOS|emergency;"

xdotool key --window "$win" Escape
wait_exit 10
[[ $EXIT_STATUS -eq 0 ]] || fail "status $EXIT_STATUS"
echo "all preset editor checks passed"
