#!/usr/bin/env bash
# Practice on the real program: from home to the practice screen, a lesson whose groups are
# copied right (the script reads each group from the sound OpenAL writes to a WAV file and types
# it) ends at 100 %, offers the next lesson, and practice.json keeps the session and the new
# lesson; the progress view draws the session. A damaged practice.json is set aside, not lost.
source "$(dirname "$0")/lib.sh"
GROUPS_OF="$LUMIKEY_BUILD/tests/wav_morse_app"
SAVE="$E2E_TMP/home/.local/share/lumikey"
mkdir -p "$SAVE"
printf '[audio]\ndriver=openal\n' >"$E2E_TMP/home/.allegro5rc"
printf '[general]\ndrivers=wave\n[wave]\nfile=%s\n' "$E2E_TMP/out.wav" >"$E2E_TMP/alsoft.conf"
# Lesson 1 (K and M), groups of three at 20 wpm without Farnsworth spacing: a unit of 60 ms.
cat >"$SAVE/practice.json" <<'EOF'
{ "version": 1, "sessions": [], "lesson": 1, "wpm": 20, "effective_wpm": 20, "group_len": 3,
  "minutes": 5, "source": 0, "mode": 0, "goal_ms": 1000, "show_light": false, "chars": {} }
EOF

click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; }
# heard_groups: the groups sent so far whose sound has ended, one a line.
heard_groups() { "$GROUPS_OF" groups "$E2E_TMP/out.wav" 60 500 2>/dev/null || true; }
shot() { import -window root -crop "480x800+$WX+$WY" "$LUMIKEY_BUILD/$1.png"; }

echo "== groups read from the sound and typed back pass the lesson"
open_lumikey ALSOFT_CONF="$E2E_TMP/alsoft.conf" ALSOFT_DRIVERS=
wait_log "practice sessions loaded"
click_at 270 38 # "Practice"
sleep 0.8
click_at 240 606 # "Start"
wait_log "practice started: lesson 1, 20/20 wpm"
copied=0 heard=0
for _ in $(seq 1 300); do
  ((copied < 3)) || break
  mapfile -t sent < <(heard_groups)
  if ((${#sent[@]} > heard)); then
    heard=${#sent[@]}
    group=${sent[heard - 1]}
    # Under load a group can come out broken (a stalled stream splits a dash): hear it again.
    if [[ ! "$group" =~ ^[KM]{3}$ ]]; then
      click_at 123 746 # "Repeat"
      continue
    fi
    xdotool type --delay 80 "$group"
    wait_log "practice group $((copied + 1)): sent $group, typed $group, 3 of 3 right"
    ((copied == 0)) && { sleep 0.1; shot practice_scored; }
    copied=$((copied + 1))
  fi
  sleep 0.1
done
((copied == 3)) || fail "copied $copied groups; heard: $(heard_groups | tr '\n' ' ')"
click_at 356 746 # "End session"
wait_log "practice ended: 9 of 9 right"
expect_log "next lesson offered"
sleep 0.5
shot practice_done
python3 - "$SAVE/practice.json" <<'EOF' || fail "practice.json: $(cat "$SAVE/practice.json")"
import json, sys
d = json.load(open(sys.argv[1]))
s = d["sessions"]
assert len(s) == 1, s
assert (s[0]["lesson"], s[0]["right"], s[0]["total"], s[0]["mode"]) == (1, 9, 9, "copy"), s[0]
assert sum(v[0] for v in s[0]["chars"].values()) == 9, s[0]["chars"]
assert d["lesson"] == 1, d["lesson"]
EOF
click_at 123 704 # "Next lesson"
sleep 0.8
python3 -c 'import json,sys; sys.exit(json.load(open(sys.argv[1]))["lesson"] != 2)' \
  "$SAVE/practice.json" || fail "the next lesson was not kept: $(cat "$SAVE/practice.json")"

echo "== the progress view draws the session"
click_at 392 38 # "Progress"
sleep 0.8
shot practice_progress
# The session's point sits at 100 % in the middle of the first chart, the right characters'
# bars are green in the third.
point=$(pixel_at $((WX + 240)) $((WY + 157)))
[[ "$point" == "79,195,247" ]] || fail "no session point in the accuracy chart (saw $point)"
bar=$(pixel_at $((WX + 120)) $((WY + 540)))
[[ "$bar" == "92,214,92" ]] || fail "no green bar for K (saw $bar)"
# The progress view is one below practice: back to it first.
xdotool key --window "$win" Escape
escape_twice_quits

echo "== a damaged practice.json is set aside and the program starts"
printf '{ "version": 1, "sessions": [ {"when": ' >"$SAVE/practice.json"
cp "$SAVE/practice.json" "$E2E_TMP/damaged"
open_lumikey
wait_log "practice.json could not be used, kept as"
kept=$(sed -n 's/.*practice.json could not be used, kept as \(.*\)$/\1/p' "$E2E_TMP/log" | head -1)
[[ "$kept" == /* ]] || kept="$SAVE/$kept"
cmp -s "$kept" "$E2E_TMP/damaged" || fail "the damaged file was not kept whole as $kept"
click_at 270 38
sleep 0.8
shot practice_fresh
escape_twice_quits
echo "PASS"
