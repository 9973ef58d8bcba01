#!/usr/bin/env bash
# lumikey-decode on recordings made outside this repository (tests/data/audio): machine keying
# whose speed was once lost after the first word, Farnsworth spacing, hand keying, and two
# stations on their own tones and speeds. Each NAME.flac prints the lines of NAME.txt, one per
# message, in order (start times and speeds aside); stereo and WAV copies read the same.
source "$(dirname "$0")/lib.sh"
: "${LUMIKEY_DECODE:?}" "${LUMIKEY_SOURCE:?}"
data="$LUMIKEY_SOURCE/tests/data/audio"
cd "$E2E_TMP"

texts_of() { # the texts of lumikey-decode's lines
  sed -E 's/^[0-9:.]+  [0-9]+ WPM  //'
}

for flac in "$data"/*.flac; do
  name=$(basename "$flac" .flac)
  echo "== $name"
  "$LUMIKEY_DECODE" "$flac" >out.txt 2>err.txt || fail "$name: status $? ($(cat err.txt))"
  got=$(texts_of <out.txt)
  want=$(cat "$data/$name.txt")
  [[ "$got" == "$want" ]] || fail "$name printed [$(cat out.txt)], not [$want]"
done

echo "== two stations: each with its own speed, the second where it starts"
"$LUMIKEY_DECODE" "$data/two-stations.flac" >out.txt
[[ $(sed -n 1p out.txt) == "00:00.8  18 WPM  "* ]] || fail "first station: $(sed -n 1p out.txt)"
[[ $(sed -n 2p out.txt) == "00:26.9  28 WPM  "* ]] || fail "second station: $(sed -n 2p out.txt)"

if command -v sox >/dev/null; then
  echo "== the same recording as stereo WAV at 44.1 kHz"
  sox "$data/clean-20wpm.flac" -r 44100 -c 2 stereo.wav
  "$LUMIKEY_DECODE" stereo.wav >out.txt
  [[ $(texts_of <out.txt) == "$(cat "$data/clean-20wpm.txt")" ]] || fail "stereo: $(cat out.txt)"
fi
echo "ok"
