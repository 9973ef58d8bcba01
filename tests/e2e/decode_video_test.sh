#!/usr/bin/env bash
# lumikey-decode reading the light in videos made by ffmpeg's own filters (tests/e2e/
# lavfi_morse.py, written apart from the program and its test camera): a small lamp anywhere in
# a noisy room prints its message in the sound's format, as text and as JSON; a room with a
# person swaying and a mains-flickering lamp but no Morse prints nothing; a missing file and a
# file that is neither sound nor video fail with status 1, and the readable files are still read.
source "$(dirname "$0")/lib.sh"
: "${LUMIKEY_DECODE:?}"
gen="$(dirname "$0")/lavfi_morse.py"
command -v ffmpeg >/dev/null || fail "ffmpeg is not installed (tools/install-deps.sh installs it)"
cd "$E2E_TMP"

python3 "$gen" lamp.avi "CQ DE TEST" --wpm 12 --at 0.25,0.7 --noise 10
python3 "$gen" room.avi "E" --no-light --person --flicker --seconds 7

echo "== the lamp's message, found by itself, in the sound's format"
out=$("$LUMIKEY_DECODE" lamp.avi) || fail "status $? for a readable video"
[[ "$out" =~ ^00:01\.[0-9]\ \ 1[1-3]\ WPM\ \ CQ\ DE\ TEST$ ]] || fail "printed: $out"

echo "== the same as JSON"
json=$("$LUMIKEY_DECODE" --json lamp.avi)
python3 -c 'import json,sys; m=json.loads(sys.argv[1]); assert m["text"]=="CQ DE TEST" and m["symbols"]=="-.-. --.- / -.. . / - . ... -" and 90<=m["unit_ms"]<=110 and "tone_hz" not in m, m' \
  "$json" || fail "JSON: $json"

echo "== a room without a Morse lamp prints nothing"
out=$("$LUMIKEY_DECODE" room.avi) || fail "status $? for a video without a light"
[[ -z "$out" ]] || fail "printed for a room without a lamp: $out"

echo "== bad files fail, the good one is still read"
echo "just words" >notes.txt
set +e
out=$("$LUMIKEY_DECODE" missing.avi notes.txt lamp.avi 2>err.txt)
rc=$?
set -e
[[ $rc == 1 ]] || fail "status $rc with a missing and a bad file"
grep -q "missing.avi" err.txt && grep -q "notes.txt" err.txt || fail "errors: $(cat err.txt)"
[[ "$out" == *"lamp.avi:"*"CQ DE TEST"* ]] || fail "the good file was not read: $out"
echo "PASS"
