#!/usr/bin/env bash
# Screenshots of every screen in every language, portrait (480 x 800) and landscape (800 x 480),
# taken from the real program driven with xdotool under a private Xvfb (or $DISPLAY when set).
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR] [LANGS] [SIZES]
#
# BUILD_DIR defaults to build, OUT_DIR to BUILD_DIR/screenshots, LANGS to "en fr es de it" and
# SIZES to "480x800 800x480". Files are named LANG_WxH_SCREEN.png. The clicks follow the layouts
# the screens compute from the window size at UI scale 1, so a screen whose layout changes
# needs its coordinates changed here too.
set -euo pipefail
build=${1:-build}
out=${2:-$build/screenshots}
langs=${3:-en fr es de it}
sizes=${4:-480x800 800x480}
bin=$(cd "$build" && pwd)/lumikey
[[ -x "$bin" ]] || { echo "no program at $bin: build the lumikey target first" >&2; exit 1; }
source "$(dirname "$0")/test-env.sh"
export PULSE_SERVER=unix:/nonexistent
mkdir -p "$out"
tmp=$(mktemp -d)
pid=""
finish() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$tmp"
  # The private X server of test-env.sh, whose own exit trap this one replaces.
  [[ -n "${_xvfb_pid:-}" ]] && kill "$_xvfb_pid" 2>/dev/null || true
  [[ -z "${_xvfb_fifo:-}" ]] || rm -f "$_xvfb_fifo"
}
trap finish EXIT

PAD=12 BH=52

shot() { import -window root -crop "${W}x${H}+$WX+$WY" "$out/${lang}_${W}x${H}_$1.png"; }
click() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; sleep 0.5; }
# Escape until the home screen's top bar (title and "+ New", as first seen) is back; at most
# four presses, so the program never quits.
home_bar() { import -window root -crop "${W}x$((2 * PAD + BH))+$WX+$WY" "$1"; }
go_home() {
  for _ in 1 2 3 4; do
    home_bar "$tmp/bar.png"
    [[ "$(compare -metric AE "$tmp/bar.png" "$tmp/home_bar.png" null: 2>&1 || true)" == 0 ]] && return 0
    xdotool key --window "$win" Escape
    sleep 0.6
  done
}

# Centres of the controls, from the screens' layouts.
nav_x() { local nbw=$(((W - 5 * PAD) / 4)); echo $((PAD + $1 * (nbw + PAD) + nbw / 2)); }
nav_y() { echo $((H - 28 - BH - PAD - BH / 2)); }
# Tabs: three a line on a portrait display narrower than six tabs of 160, else one line of six.
per_line() { (( 6 * 160 > W && W <= H )) && echo 3 || echo 6; }
tab_x() {
  local n; n=$(per_line)
  local tw=$(( (W - (n + 1) * PAD) / n ))
  echo $((PAD + ($1 % n) * (tw + PAD) + tw / 2))
}
tab_y() { echo $((2 * PAD + BH + ($1 / $(per_line)) * (PAD / 2 + BH) + BH / 2)); }
content_top() { echo $(( $(tab_y 5) - BH / 2 + 2 * PAD + BH )); }

run_one() {
  local home=$tmp/home_${lang}_$W
  mkdir -p "$home/.local/share/lumikey"
  # A slow unit keeps the play screen up long enough for its picture.
  printf '{ "version": 1, "lang": "%s", "unit_ms": 300, "out_sound": false }\n' "$lang" \
    >"$home/.local/share/lumikey/settings.json"
  HOME=$home XDG_DATA_HOME= "$bin" 2>"$out/${lang}_${W}x${H}.log" &
  pid=$!
  win=""
  for _ in $(seq 1 100); do
    win=$(xdotool search --onlyvisible --pid "$pid" --name '^Lumikey$' 2>/dev/null | head -1 || true)
    [[ -n "$win" ]] && break
    sleep 0.1
  done
  [[ -n "$win" ]] || { cat "$out/${lang}_${W}x${H}.log" >&2; echo "no window" >&2; exit 1; }
  local log="$out/${lang}_${W}x${H}.log"
  for _ in $(seq 1 100); do grep -q "Lumikey .* started" "$log" && break; sleep 0.1; done
  if [[ "${W}x$H" != 480x800 ]]; then
    xdotool windowsize "$win" "$W" "$H"
    for _ in $(seq 1 100); do grep -q "display size 480x800 -> ${W}x$H" "$log" && break; sleep 0.1; done
  fi
  sleep 1.5
  eval "$(xdotool getwindowgeometry --shell "$win")"
  WX=$X WY=$Y

  shot home
  home_bar "$tmp/home_bar.png"
  click "$(nav_x 0)" "$(nav_y)"; shot history; go_home
  click "$(nav_x 1)" "$(nav_y)"; shot receive
  # The received list opens from the receive screen's top right corner.
  click $((W - PAD - 20)) $((PAD + BH / 2)); shot received; go_home
  click "$(nav_x 2)" "$(nav_y)"; shot key; go_home
  click "$(nav_x 3)" "$(nav_y)"
  for t in 0 1 2 3 4 5; do
    click "$(tab_x $t)" "$(tab_y $t)"
    shot "options$t"
  done
  # The palette popup of the first colour row ("Change", at the first column's right edge).
  local col_w=$((W > H ? (W - 3 * PAD) / 2 : W - 2 * PAD))
  local top; top=$(content_top)
  click "$(tab_x 2)" "$(tab_y 2)"
  click $((PAD + col_w - 55)) $((top + 36 + PAD + BH / 2))
  shot palette
  go_home
  click $((W - PAD - 55)) $((PAD + BH / 2))
  xdotool type --delay 20 "SOS Ω"
  sleep 0.3
  shot editor
  go_home
  # The first preset, under the first category header.
  click $((W / 2)) $((2 * BH + 3 * PAD + 74))
  sleep 0.3
  shot play
  go_home
  xdotool key --window "$win" Escape
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}

for lang in $langs; do
  for size in $sizes; do
    W=${size%x*} H=${size#*x}
    echo "$lang $size"
    run_one
  done
done
echo "screenshots in $out"
