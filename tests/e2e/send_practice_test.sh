#!/usr/bin/env bash
# Send practice and sound files on the real program. From the practice screen, "Send practice"
# shows a target; a scripted operator keys it with Space through the X server; the decoded text
# is scored against the target and the session, with its measured timing, is in practice.json
# and charted in the progress view.
# Then "Save audio" writes the practice groups as Ogg/Vorbis into ~/Music, "Copy path" puts the
# file's path on the clipboard, and with the music folder gone a WAV save is refused in words and
# creates nothing. On the home screen, "Save audio" by the message field writes the typed message
# as a WAV that holds its Morse, without sending it, and refuses an empty field in words.
source "$(dirname "$0")/lib.sh"

OPERATOR="$LUMIKEY_BUILD/tests/xtest_operator_app"
SAVE=$E2E_TMP/home/.local/share/lumikey
MUSIC=$E2E_TMP/home/Music
mkdir -p "$SAVE" "$MUSIC"
cat >"$SAVE/settings.json" <<JSON
{"version": 1, "unit_ms": 100, "eom_timeout_ms": 1500, "out_sound": 1, "key_mode": 0}
JSON

open_lumikey
click_at() { xdotool mousemove --sync $((WX + $1)) $((WY + $2)) click 1; }
# Where the layout puts things at 480 x 800 and scale 1.
click_at 271 38 # the home screen's "Practice"
sleep 0.5
click_at 123 670 # "Send practice"
wait_log "send practice: target '"
target=$(sed -n "s/.*send practice: target '\(.*\)'$/\1/p" "$E2E_TMP/log" | tail -1)
[[ $target =~ ^[KM]{5}\ [KM]{5}\ [KM]{5}$ ]] || fail "target '$target' is not three groups of K and M"

echo "== keying '$target' with Space"
"$OPERATOR" space 100 "$target" >/dev/null
wait_log "send practice: '"
scored=$(grep "send practice: '" "$E2E_TMP/log" | tail -1)
pattern="send practice: '(.*)' for '(.*)', ([0-9]+) of ([0-9]+) right"
[[ $scored =~ $pattern ]] || fail "no score in: $scored"
keyed=${BASH_REMATCH[1]} right=${BASH_REMATCH[3]} total=${BASH_REMATCH[4]}
[[ ${BASH_REMATCH[2]} == "$target" ]] || fail "scored against '${BASH_REMATCH[2]}', not the target"
# A loaded machine may deliver the operator's edges late and spoil a letter; what was read must
# still be scored as read: all 15 right only when the whole target came through.
if [[ $keyed == "$target" ]]; then
  [[ $right -eq 15 && $total -eq 15 ]] || fail "the target read back right scored $right of $total"
else
  [[ $right -lt $total ]] || fail "'$keyed' for '$target' scored $right of $total"
fi
for _ in $(seq 1 50); do grep -q '"send"' "$SAVE/practice.json" 2>/dev/null && break; sleep 0.1; done
python3 - "$SAVE/practice.json" "$right" "$total" "$([[ $keyed == "$target" ]] && echo 1 || echo 0)" <<'PY' ||
import json, sys
doc = json.load(open(sys.argv[1]))
s = [x for x in doc["sessions"] if x["mode"] == "send"]
assert len(s) == 1, s
f = s[0]["fist"]
assert s[0]["right"] == int(sys.argv[2]) and s[0]["total"] == int(sys.argv[3]), s[0]
if sys.argv[4] == "1":
    # Machine-timed keying at 12 WPM: the standard proportions, no fault named.
    assert 11 <= f["wpm"] <= 13 and f["fault"] == 0, f
    assert 280 <= f["dash_x100"] <= 320 and 270 <= f["letter_gap_x100"] <= 330, f
PY
  fail "practice.json lacks the send session as scored: $(cat "$SAVE/practice.json" | head -c 600)"

echo "== the progress view charts the send"
click_at 66 38 # "Back" to the practice screen
sleep 0.5
click_at 392 38 # "Progress"
sleep 0.8
# The send's score is a bar at the left of the last chart, rising from its foot.
bar=$(pixel_at $((WX + 35)) $((WY + 745)))
[[ $bar == "63,127,74" ]] || fail "no score bar in the send chart (saw $bar)"
# A send is not a copying session: the copying chart above stays without a point.
points=$(import -window root -crop "440x92+$((WX + 16))+$((WY + 228))" -depth 8 txt:- 2>/dev/null |
  grep -c '(79,195,247)' || true)
[[ $points -eq 0 ]] || fail "the send is charted among the copying sessions ($points pixels)"
xdotool key --window "$win" Escape # back to the practice screen
sleep 0.5
echo "== the practice groups saved as Ogg, the path copied"
click_at 357 670 # "Save audio"
sleep 0.5
click_at 380 302 # "Ogg"
wait_log "frames to $MUSIC/"
ogg=$(ls "$MUSIC"/*.ogg 2>/dev/null | head -1)
[[ -s $ogg ]] || fail "no Ogg file in $MUSIC"
click_at 135 452 # "Copy path"
sleep 0.5
got=$(xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null || true)
[[ $got == "$ogg" ]] || fail "clipboard holds '$got', not '$ogg'"

echo "== no music folder: a clear refusal, nothing written"
mv "$MUSIC" "$E2E_TMP/gone"
click_at 100 302 # "WAV"
wait_log "sound file not saved (1) in $MUSIC"
[[ ! -e $MUSIC ]] || fail "the music folder was created"
[[ $(ls "$E2E_TMP/gone" | wc -l) -eq 1 ]] || fail "files changed in the moved folder"
import -window root -crop "432x60+$((WX + 36))+$((WY + 340))" "$E2E_TMP/refusal.png"
ink=$(convert "$E2E_TMP/refusal.png" -fuzz 20% -fill black -opaque '#262A34' -fill white +opaque black \
  -format '%[fx:mean*w*h]' info:)
[[ ${ink%.*} -gt 200 ]] || fail "no message shown in the popup"

xdotool key --window "$win" Escape # closes the popup
sleep 0.4
xdotool key --window "$win" Escape # to the home screen
mv "$E2E_TMP/gone" "$MUSIC"

echo "== a typed message saved as sound from the home screen, unsent"
sleep 0.5
click_at 310 746 # "Save audio" by the empty message field
sleep 0.5
click_at 100 302 # "WAV"
wait_log "sound file not saved: no text"
[[ $(ls "$MUSIC" | wc -l) -eq 1 ]] || fail "an empty message field wrote a file: $(ls "$MUSIC")"
xdotool key --window "$win" Escape
sleep 0.4
click_at 118 746 # the message field
xdotool type --delay 40 "CQ DE F4ABC"
click_at 310 746 # "Save audio"
sleep 0.5
click_at 100 302 # "WAV"
wav=""
for _ in $(seq 1 50); do
  wav=$(ls "$MUSIC"/*.wav 2>/dev/null | head -1) && [[ -n $wav ]] && break
  sleep 0.1
done
[[ $(basename "$wav") == CQ_DE_F4ABC_* ]] || fail "no WAV named after the message in $MUSIC: $(ls "$MUSIC")"
wait_log "frames to $wav"
expected=$("$LUMIKEY_BUILD/tests/wav_morse_app" expect "CQ DE F4ABC")
heard=$("$LUMIKEY_BUILD/tests/wav_morse_app" heard "$wav" 100) || fail "no readable WAV"
[[ $heard == "$expected" ]] || fail "the file says '$heard', not '$expected'"
grep -q "CQ DE F4ABC" "$SAVE/sent_history.json" 2>/dev/null && fail "saving as sound sent the message"
xdotool key --window "$win" Escape # closes the popup
sleep 0.4
click_at 426 746 # "Send": the field kept the message
for _ in $(seq 1 50); do grep -q "CQ DE F4ABC" "$SAVE/sent_history.json" 2>/dev/null && break; sleep 0.1; done
grep -q "CQ DE F4ABC" "$SAVE/sent_history.json" || fail "the message field lost its text"
escape_twice_quits # stops the send, then leaves
echo "all send practice checks passed"
