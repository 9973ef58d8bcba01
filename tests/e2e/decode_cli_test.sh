#!/usr/bin/env bash
# lumikey-decode on generated recordings: formats, rates, channels, noise, two messages with
# their start times, JSON lines, the options, every kind of bad file, pipes and standard input,
# several files in one run, a full output, and its installation.
source "$(dirname "$0")/lib.sh"
: "${LUMIKEY_DECODE:?}"
gen="$LUMIKEY_BUILD/tests/morse_wav_app"
dec="$LUMIKEY_DECODE"
cd "$E2E_TMP"

# run_decode ARGS...: sets OUT, ERR and STATUS.
run_decode() {
  set +e
  "$dec" "$@" >out.txt 2>err.txt
  STATUS=$?
  set -e
  OUT=$(cat out.txt)
  ERR=$(cat err.txt)
}
expect() { # expect STATUS STDOUT
  [[ "$STATUS" == "$1" ]] || fail "status $STATUS, not $1 (stderr: $ERR)"
  [[ "$OUT" == "$2" ]] || fail "printed [$OUT], not [$2]"
}

echo "== stereo WAV at 44.1 kHz, two messages: one line each with start and speed"
"$gen" two.wav wav 44100 2 18 700 clean 1000 "CQ CQ DE F4ABC" 16000 "TEST 73"
run_decode two.wav
expect 0 $'00:01.0  18 WPM  CQ CQ DE F4ABC\n00:16.0  18 WPM  TEST 73'
[[ -z "$ERR" ]] || fail "a clean read wrote to stderr: $ERR"

echo "== the same as JSON lines"
run_decode --json two.wav
[[ $STATUS == 0 ]] || fail "--json ended with $STATUS"
[[ $(wc -l <out.txt) == 2 ]] || fail "--json printed $(wc -l <out.txt) lines"
line1=$(sed -n 1p out.txt)
for want in '"start":1,' '"wpm":18,' '"text":"CQ CQ DE F4ABC"' '"symbols":"-.-. --.- / -.-. --.- / -.. . / ..-. ....- .- -... -.-."' '"tone_hz":700'; do
  [[ "$line1" == *"$want"* ]] || fail "first JSON line lacks $want: $line1"
done
[[ $(sed -n 2p out.txt) == *'"start":16,'*'"text":"TEST 73"'* ]] || fail "second JSON line: $(sed -n 2p out.txt)"

echo "== FLAC at 22.05 kHz with noise, Ogg at 48 kHz, WAV at 8 kHz with a high tone"
"$gen" noisy.flac flac 22050 1 25 900 6 11000 "HELLO WORLD"
run_decode noisy.flac
# In noise a short message's unit is known to a few per cent: 25 WPM sits on the rounding edge.
[[ "$OUT" == "00:11.0  25 WPM  HELLO WORLD" || "$OUT" == "00:11.0  26 WPM  HELLO WORLD" ]] ||
  fail "printed [$OUT], not [00:11.0  25 WPM  HELLO WORLD]"
[[ $STATUS == 0 ]] || fail "status $STATUS, not 0 (stderr: $ERR)"
"$gen" slow.ogg ogg 48000 1 8 450 12 500 "SOS SOS"
run_decode slow.ogg
expect 0 "00:00.5  8 WPM  SOS SOS"
"$gen" fast.wav wav 8000 1 40 1150 clean 2000 "PARIS PARIS"
run_decode fast.wav
expect 0 "00:02.0  40 WPM  PARIS PARIS"
run_decode --tone 1150 fast.wav
expect 0 "00:02.0  40 WPM  PARIS PARIS"

echo "== noise or silence without Morse: nothing, status 0"
"$gen" noise.wav wav 16000 1 20 700 0 1000 ""
run_decode noise.wav
expect 0 ""
[[ -z "$ERR" ]] || fail "a file without Morse wrote to stderr: $ERR"

echo "== options"
run_decode --help
[[ $STATUS == 0 && "$OUT" == usage:* && "$OUT" == *--json* ]] || fail "--help: $STATUS [$OUT]"
run_decode --version
expect 0 "lumikey-decode 0.2.5"
for bad in "--loud two.wav" "-x two.wav" "" "--" "--tone two.wav" "--tone 20 two.wav"; do
  # shellcheck disable=SC2086
  run_decode $bad
  [[ $STATUS == 2 ]] || fail "'$bad' ended with $STATUS, not 2"
  [[ -z "$OUT" ]] || fail "'$bad' printed [$OUT]"
  [[ "$ERR" == *"usage: lumikey-decode"* ]] || fail "'$bad' gave no usage line: $ERR"
done

echo "== bad files: one error line, status 1"
: >empty.wav
printf 'just some text, not sound\n' >notes.wav
head -c 44 two.wav >header-only.wav
mkdir -p folder.wav
for f in missing.wav empty.wav notes.wav header-only.wav folder.wav; do
  run_decode "$f"
  [[ $STATUS == 1 ]] || fail "$f ended with $STATUS, not 1"
  [[ -z "$OUT" ]] || fail "$f printed [$OUT]"
  [[ $(wc -l <err.txt) == 1 && "$ERR" == "lumikey-decode: $f: "* ]] || fail "$f: stderr [$ERR]"
done
if [[ $(id -u) != 0 ]]; then
  cp two.wav locked.wav
  chmod 000 locked.wav
  run_decode locked.wav
  [[ $STATUS == 1 && "$ERR" == *"Permission denied"* ]] || fail "unreadable file: $STATUS [$ERR]"
fi

echo "== pipes: standard input as - or /dev/stdin, and a FIFO, each read once to its end"
# Each recording is larger than a pipe's buffer, so a reader that stops early kills the writer.
set +e
cat two.wav | "$dec" - >out.txt 2>err.txt
status=("${PIPESTATUS[@]}")
set -e
[[ "${status[*]}" == "0 0" ]] || fail "cat | lumikey-decode - ended with ${status[*]}: $(cat err.txt)"
[[ $(cat out.txt) == $'00:01.0  18 WPM  CQ CQ DE F4ABC\n00:16.0  18 WPM  TEST 73' ]] ||
  fail "from a pipe: [$(cat out.txt)]"
# Ogg and FLAC are read with seeks, which a pipe does not allow.
set +e
cat slow.ogg | "$dec" /dev/stdin >out.txt 2>err.txt
status=("${PIPESTATUS[@]}")
set -e
[[ "${status[*]}" == "0 0" && $(cat out.txt) == "00:00.5  8 WPM  SOS SOS" ]] ||
  fail "Ogg through /dev/stdin: ${status[*]} [$(cat out.txt)] $(cat err.txt)"
mkfifo pipe.flac
cat noisy.flac >pipe.flac &
writer=$!
run_decode pipe.flac
wait "$writer" || fail "the FIFO's writer ended with $?"
[[ $STATUS == 0 && "$OUT" == "00:11.0  2"[56]" WPM  HELLO WORLD" ]] || fail "FIFO: $STATUS [$OUT] $ERR"
run_decode - <fast.wav
expect 0 "00:02.0  40 WPM  PARIS PARIS"
set +e
printf 'not sound at all\n' | "$dec" - >out.txt 2>err.txt
[[ $? == 1 && $(cat err.txt) == "lumikey-decode: (standard input): not a sound file"* ]] ||
  fail "text through a pipe: $(cat err.txt)"
"$dec" - </dev/null >out.txt 2>err.txt
[[ $? == 1 && $(cat err.txt) == "lumikey-decode: (standard input): empty input" ]] ||
  fail "an empty pipe: $(cat err.txt)"
set -e

echo "== several files: each in turn under its name, the same with --; JSON names the file"
both=$'two.wav:\n00:01.0  18 WPM  CQ CQ DE F4ABC\n00:16.0  18 WPM  TEST 73\n\nfast.wav:\n00:02.0  40 WPM  PARIS PARIS'
run_decode two.wav fast.wav
expect 0 "$both"
run_decode two.wav -- fast.wav
expect 0 "$both"
run_decode -- two.wav fast.wav
expect 0 "$both"
cp fast.wav ./-odd.wav
run_decode noise.wav -- -odd.wav
expect 0 $'noise.wav:\n\n-odd.wav:\n00:02.0  40 WPM  PARIS PARIS'
run_decode --json fast.wav - <slow.ogg
[[ $STATUS == 0 && $(wc -l <out.txt) == 2 ]] || fail "--json, two files: $STATUS [$OUT]"
[[ $(sed -n 1p out.txt) == '{"file":"fast.wav","start":2,'*'"text":"PARIS PARIS"'* ]] ||
  fail "first file's object: $(sed -n 1p out.txt)"
[[ $(sed -n 2p out.txt) == '{"file":"(standard input)","start":0.5,'*'"text":"SOS SOS"'* ]] ||
  fail "second file's object: $(sed -n 2p out.txt)"

echo "== a bad file among good ones: its error line, the rest decoded, status 1"
run_decode fast.wav missing.wav notes.wav fast.wav
expect 1 $'fast.wav:\n00:02.0  40 WPM  PARIS PARIS\n\nfast.wav:\n00:02.0  40 WPM  PARIS PARIS'
[[ $(wc -l <err.txt) == 2 && $(sed -n 1p err.txt) == "lumikey-decode: missing.wav: "* &&
  $(sed -n 2p err.txt) == "lumikey-decode: notes.wav: "* ]] || fail "two bad files: stderr [$ERR]"

echo "== an output that cannot be written: status 1 and why, also for --help"
for args in "two.wav" "--json two.wav" "noise.wav fast.wav" "--help"; do
  set +e
  # shellcheck disable=SC2086
  "$dec" $args >/dev/full 2>err.txt
  STATUS=$?
  set -e
  [[ $STATUS == 1 ]] || fail "'$args' into /dev/full ended with $STATUS, not 1"
  [[ $(cat err.txt) == "lumikey-decode: could not write the output: No space left on device" ]] ||
    fail "'$args' into /dev/full: stderr [$(cat err.txt)]"
done
# Nothing to write is no failure.
"$dec" noise.wav >/dev/full 2>err.txt || fail "no message into /dev/full ended with $?: $(cat err.txt)"

echo "== cmake --install puts the program and its manual page beside lumikey"
cmake --install "$LUMIKEY_BUILD" --prefix "$E2E_TMP/prefix" >/dev/null
[[ -x prefix/bin/lumikey && -x prefix/bin/lumikey-decode ]] || fail "programs not installed"
[[ -s prefix/share/man/man1/lumikey-decode.1.gz ]] || fail "manual page not installed"
[[ $(prefix/bin/lumikey-decode two.wav | head -1) == "00:01.0  18 WPM  CQ CQ DE F4ABC" ]] ||
  fail "the installed program does not decode"

echo "all lumikey-decode checks passed"
