#!/usr/bin/env bash
# The README's pictures: the home, play, key, receive and options screens, in English at
# 480 x 800, taken from the real program by tools/screenshots.sh (never by hand) and copied to
# docs/screenshots/. Run it again whenever a screen changes.
#
#   tools/readme-screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
out=${2:-$tools/../docs/screenshots}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$tools/screenshots.sh" "$build" "$tmp" en 480x800 >"$tmp/log" 2>&1 || {
  cat "$tmp/log" >&2
  exit 1
}
mkdir -p "$out"
# Taken name -> README name. The options screen is shown on its Timing tab, where the speed is.
for pair in home:home play:play key:key receive:receive options1:options; do
  cp "$tmp/en_480x800_${pair%%:*}.png" "$out/${pair#*:}.png"
done
echo "README screenshots in $out"
