#!/usr/bin/env bash
# Measures the CPU the real program uses over a 30 s send (the first preset, looped, with screen
# and sound, under Xvfb with OpenAL's null output), next to 10 s of idling on the home screen.
# Usage: tools/measure-send.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source "$(dirname "$0")/test-env.sh"
tmp=$(mktemp -d)
pid=""
# Keeps the private Xvfb's clean-up that test-env.sh installed.
trap '[[ -n "$pid" ]] && kill "$pid" 2>/dev/null; rm -rf "$tmp"; [[ -n "${_xvfb_pid:-}" ]] && kill "$_xvfb_pid" 2>/dev/null; true' EXIT
save="$tmp/.local/share/lumikey"
mkdir -p "$save"
echo '{ "version": 1, "loop": true, "out_screen": true, "out_sound": true }' >"$save/settings.json"

(cd "$build" && HOME="$tmp" XDG_DATA_HOME= exec ./lumikey 2>"$tmp/log") &
pid=$!
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --pid "$pid" --name '^Lumikey$' 2>/dev/null | head -1 || true)
  [[ -n "$win" ]] && break
  sleep 0.1
done
[[ -n "$win" ]] || { echo "no window" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$win")"
sleep 1

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
# cpu SECONDS: percent of one core used over the next SECONDS.
cpu() {
  local t0 w0 t1 w1
  t0=$(ticks); w0=$(date +%s%N)
  sleep "$1"
  t1=$(ticks); w1=$(date +%s%N)
  awk -v d=$((t1 - t0)) -v hz="$hz" -v ns=$((w1 - w0)) 'BEGIN { printf "%.1f", 100 * d / hz / (ns / 1e9) }'
}

echo "idle on the home screen: $(cpu 10) % of one core over 10 s"
xdotool mousemove $((X + 240)) $((Y + 214)) click 1 2>/dev/null
sleep 1
grep -q "playing" "$tmp/log" || { echo "the send did not start" >&2; exit 1; }
echo "sending (looped SOS, screen and sound): $(cpu 30) % of one core over 30 s"
xdotool key --window "$win" Escape
sleep 0.5
xdotool key --window "$win" Escape
wait "$pid" || true
pid=""
