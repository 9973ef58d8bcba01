#!/usr/bin/env bash
# Figures of the Debian package: its size, its installed size, and the start time of the
# installed program to its first frame (bench/startup_bench). As root, with no lumikey package
# installed already, the package is installed for the measurement and removed after it;
# otherwise its files are unpacked into a temporary root. Usage: measure-package.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)

cmake --build "$build" -j2 --target lumikey lumikey-decode assets desktop_data startup_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/lumikey_*.deb)

echo "package:        $(basename "$deb")"
echo ".deb size:      $(stat -c %s "$deb") bytes"
echo "Installed-Size: $(dpkg-deb --field "$deb" Installed-Size) KiB (dpkg's figure)"
dpkg-deb -x "$deb" "$work/root"
echo "unpacked:       $(du -sb "$work/root" | cut -f1) bytes, $(du -sk "$work/root" | cut -f1) KiB on disk, $(find "$work/root" -type f | wc -l) files"
for bin in lumikey lumikey-decode; do
  echo "  /usr/bin/$bin: $(stat -c %s "$work/root/usr/bin/$bin") bytes (stripped)"
done

bin=$work/root/usr/bin/lumikey
if [[ $(id -u) -eq 0 ]] && ! dpkg-query -W -f='${Status}' lumikey 2>/dev/null | grep -q "ok installed"; then
  dpkg -i "$deb" >/dev/null
  trap 'dpkg -r lumikey >/dev/null; rm -rf "$work"' EXIT
  bin=/usr/bin/lumikey
else
  # The package's font link is relative to /usr: give the unpacked tree the system's font.
  mkdir -p "$work/root/usr/share/fonts/truetype/dejavu"
  ln -s /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$work/root/usr/share/fonts/truetype/dejavu/"
fi
echo "start to first frame of $bin:"
# In a subshell, so that test-env.sh's Xvfb is stopped by its own exit handler.
(
  source "$tools/test-env.sh"
  cd "$build"
  LUMIKEY_STARTUP_BIN="$bin" ./bench/startup_bench 2>/dev/null | grep -E "^(BM_|Benchmark)"
)
