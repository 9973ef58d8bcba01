#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the test suite need,
# and only those that are missing, so a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang
  liballegro5-dev liballegro-audio5-dev liballegro-ttf5-dev liballegro-image5-dev
  libcjson-dev libx11-dev libxss-dev libdbus-1-dev fonts-dejavu-core libsndfile1-dev libpulse-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool xclip imagemagick x11-utils pulseaudio pulseaudio-utils python3
  pipewire pipewire-pulse wireplumber
  dbus-daemon python3-dbus python3-gi
  librsvg2-bin dpkg-dev desktop-file-utils appstream man-db
  sox
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "run this script as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
