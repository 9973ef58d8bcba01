#!/usr/bin/env bash
# Measures the key screen on the real program under Xvfb, with OpenAL writing the sound to a WAV
# file: the delay from a key-down sent to the X server to the first sound of the sidetone in the
# file (median and worst), and the decoder's character error rate, for a scripted operator at
# 10, 15 and 20 WPM keying with the mouse on the pad and with Space.
#
#   [OPERATOR_JITTER=0.1] tools/measure-key-screen.sh [BUILD_DIR] [TEXT]
# OPERATOR_JITTER scales each mark and space by 1 + jitter x N(0, 1), as a human hand would.
# The delay of a key-down runs from the moment the fake event was sent (the X server stamps it
# right after, on the same monotonic clock) to the moment the WAV file had grown past the first
# sample of its tone: the file is written as the mixer renders, so this includes the mixer's
# period, as a sound card's buffer would. Needs the build's lumikey, xtest_operator_app and
# wav_marks_app.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
text=${2:-PARIS CQ}
source "$(dirname "$0")/test-env.sh"
tmp=$(mktemp -d)
pid=""
cleanup() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
  rm -rf "$tmp"
  # test-env.sh's Xvfb, if it started one (this trap replaces its own).
  [[ -n "${_xvfb_pid:-}" ]] && kill "$_xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

# cer REFERENCE DECODED: edit distance over the reference's length, in percent.
cer() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    n = length(a); m = length(b)
    for (j = 0; j <= m; j++) d[0, j] = j
    for (i = 1; i <= n; i++) {
      d[i, 0] = i
      for (j = 1; j <= m; j++) {
        c = d[i-1, j-1] + (substr(a, i, 1) != substr(b, j, 1))
        if (d[i-1, j] + 1 < c) c = d[i-1, j] + 1
        if (d[i, j-1] + 1 < c) c = d[i, j-1] + 1
        d[i, j] = c
      }
    }
    printf "%.1f", 100 * d[n, m] / n }'
}

: >"$tmp/latencies"
printf '%-6s %-4s %-8s %-24s %s\n' input wpm unit_ms decoded "CER %"
for how in button space; do
  for wpm in 10 15 20; do
    unit=$((1200 / wpm))
    home=$tmp/home-$how-$wpm
    save=$home/.local/share/lumikey
    mkdir -p "$save"
    echo '{"version": 1, "eom_timeout_ms": 1000, "out_sound": 1, "key_mode": 0}' >"$save/settings.json"
    wav=$tmp/$how-$wpm.wav
    printf '[general]\ndrivers=wave\n[wave]\nfile=%s\n' "$wav" >"$tmp/alsoft.conf"
    HOME=$home XDG_DATA_HOME= ALSOFT_CONF=$tmp/alsoft.conf ALSOFT_DRIVERS=wave \
      "$build/lumikey" 2>"$tmp/log" &
    pid=$!
    win=""
    for _ in $(seq 1 100); do
      win=$(xdotool search --onlyvisible --pid "$pid" --name '^Lumikey$' 2>/dev/null | head -1 || true)
      [[ -n "$win" ]] && grep -q started "$tmp/log" && break
      sleep 0.1
    done
    eval "$(xdotool getwindowgeometry --shell "$win")"
    xdotool mousemove --sync $((X + 298)) $((Y + 682)) click 1 # "Key"
    for _ in $(seq 1 50); do grep -q "sidetone running" "$tmp/log" && break; sleep 0.1; done
    xdotool mousemove --sync $((X + 240)) $((Y + 560))          # over the pad
    sleep 0.5
    "$build/tests/xtest_operator_app" "$how" "$unit" "$text" "$wav" >"$tmp/op"
    for _ in $(seq 1 50); do grep -q "keyed '" "$tmp/log" && break; sleep 0.1; done
    echo "$how $wpm: $(grep -c . "$tmp/op") operator lines" >&2
    decoded=$(sed -n "s/.*screen_key_update.*keyed '\(.*\)' (unit.*/\1/p" "$tmp/log" | head -1)
    kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""
    printf '%-6s %-4s %-8s %-24s %s\n' "$how" "$wpm" "$unit" "'$decoded'" "$(cer "$text" "$decoded")"

    # The WAV's frame size from its header (channels at byte 22, bits per sample at 34).
    channels=$(od -An -tu2 -j22 -N2 "$wav" | tr -d ' ')
    bits=$(od -An -tu2 -j34 -N2 "$wav" | tr -d ' ')
    rate=$(od -An -tu4 -j24 -N4 "$wav" | tr -d ' ')
    "$build/tests/wav_marks_app" "$wav" | grep '^mark' >"$tmp/marks" || true
    # Each key-down's tone: the first mark starting after it was sent (in file time), found by
    # the moment the file grew past that mark's first sample.
    awk -v fb=$((channels * bits / 8)) -v rate="$rate" '
      FILENAME == ARGV[1] && $1 == "edge" && $2 == 1 { down[nd++] = $3 }
      FILENAME == ARGV[1] && $1 == "size" { st[ns] = $2; sz[ns++] = $3 }
      FILENAME == ARGV[2] {
        need = 68 + int($2 * rate / 1000) * fb
        for (k = 0; k < ns && sz[k] < need; k++) {}
        if (k < ns) heard[nh++] = st[k]
      }
      END {
        h = 0
        for (i = 0; i < nd; i++) {
          while (h < nh && heard[h] < down[i]) h++
          if (h < nh) printf "%.1f\n", heard[h] - down[i]
          h++
        }
      }' "$tmp/op" "$tmp/marks" >>"$tmp/latencies"
  done
done
sort -n "$tmp/latencies" | awk '{ v[n++] = $1 } END {
  if (!n) { print "no key-down was heard"; exit 1 }
  printf "key-down to sidetone in the WAV: %d presses, median %.1f ms, worst %.1f ms, best %.1f ms\n",
         n, (n % 2 ? v[int(n/2)] : (v[n/2-1] + v[n/2]) / 2), v[n-1], v[0] }'
