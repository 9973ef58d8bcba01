#!/usr/bin/env bash
# The Debian package: built by CPack from this build, its metadata and contents, installed with
# dpkg -i, the installed program started from its menu entry, and removed again without a trace.
# It installs into the system, so it needs root and dpkg; elsewhere it is skipped.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/desktop_lib.sh"

skip() {
  echo "SKIP: $*"
  exit 77
}
[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
for tool in dpkg dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || skip "$tool is not available"
done
grep -q '^LUMIKEY_SANITIZE:STRING=$' "$LUMIKEY_BUILD/CMakeCache.txt" ||
  skip "packages are made from the plain build, not a sanitizer build"
if dpkg-query -W -f='${Status}' lumikey 2>/dev/null | grep -q "ok installed"; then
  skip "a lumikey package is already installed here; this test will not replace it"
fi

installed=0
remove_package() {
  if [[ $installed -eq 1 ]]; then
    dpkg -r lumikey >/dev/null 2>&1 || true
    installed=0
  fi
}
trap 'remove_package; cleanup' EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LUMIKEY_BUILD/CMakeCache.txt")
arch=$(dpkg --print-architecture)

echo "== build the package"
cpack -G DEB --config "$LUMIKEY_BUILD/CPackConfig.cmake" -B "$E2E_TMP/deb" >"$E2E_TMP/cpack.log" 2>&1 ||
  fail "cpack failed: $(tail -5 "$E2E_TMP/cpack.log")"
deb=$E2E_TMP/deb/lumikey_${version}_$arch.deb
[[ -f "$deb" ]] || fail "no $deb: $(ls "$E2E_TMP/deb")"

echo "== metadata"
field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(field Package)" == lumikey ]] || fail "package name is $(field Package)"
[[ "$(field Version)" == "$version" ]] || fail "package version is $(field Version)"
[[ "$(field Architecture)" == "$arch" ]] || fail "architecture is $(field Architecture)"
depends=$(field Depends)
dep_names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
# The libraries it was linked with, by their Debian package names, and the font it links to.
for dep in liballegro5.2 liballegro-audio5.2 liballegro-ttf5.2 libcjson1 libx11-6 libpulse0 \
  libsndfile1 fonts-dejavu-core; do
  grep -qxF "$dep" <<<"$dep_names" || fail "Depends lacks $dep: $depends"
done
! grep -q -- '-dev$' <<<"$dep_names" || fail "Depends names a development package: $depends"
[[ $(field Description | wc -l) -gt 2 ]] || fail "no long description"

echo "== contents"
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$E2E_TMP/contents"
for f in /usr/bin/lumikey /usr/bin/lumikey-decode \
  /usr/share/applications/$APP_ID.desktop /usr/share/metainfo/$APP_ID.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/$APP_ID.svg /usr/share/icons/hicolor/48x48/apps/$APP_ID.png \
  /usr/share/icons/hicolor/128x128/apps/$APP_ID.png /usr/share/icons/hicolor/256x256/apps/$APP_ID.png \
  /usr/share/man/man1/lumikey.1.gz /usr/share/man/man1/lumikey-decode.1.gz \
  /usr/share/doc/lumikey/copyright /usr/share/lumikey/assets/icons/$APP_ID.png \
  /usr/share/lumikey/assets/fonts/DejaVuSans.ttf /usr/share/lumikey/assets/lang/de.json \
  /usr/share/lumikey/assets/presets/defaults_it.json; do
  grep -qxF "$f" "$E2E_TMP/contents" || fail "the package lacks $f"
done
outside=$(grep -v '^/usr/' "$E2E_TMP/contents" || true)
[[ -z "$outside" ]] || fail "files outside /usr: $outside"
programs=$(grep '^/usr/bin/.' "$E2E_TMP/contents" | tr '\n' ' ')
[[ "$programs" == "/usr/bin/lumikey /usr/bin/lumikey-decode " ]] || fail "programs: $programs"

echo "== dpkg -i"
dpkg -i "$deb" >"$E2E_TMP/dpkg.log" 2>&1 || { installed=1; fail "dpkg -i failed: $(cat "$E2E_TMP/dpkg.log")"; }
installed=1
dpkg-query -W -f='${Status} ${Version}' lumikey | grep -qx "install ok installed $version" ||
  fail "dpkg reports $(dpkg-query -W -f='${Status} ${Version}' lumikey)"
check_desktop_files /usr
# Some minimal images tell dpkg to leave manual pages out; there is nothing to read then.
if ! grep -qs 'path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  MANPAGER=cat MANWIDTH=80 man --warnings lumikey >/dev/null 2>"$E2E_TMP/warn" || fail "man lumikey failed"
  [[ ! -s "$E2E_TMP/warn" ]] || fail "man lumikey: $(cat "$E2E_TMP/warn")"
fi

echo "== the installed program starts from its menu entry and quits with Escape"
check_installed_run /usr

echo "== dpkg -r"
dpkg -r lumikey >"$E2E_TMP/dpkg.log" 2>&1 || fail "dpkg -r failed: $(cat "$E2E_TMP/dpkg.log")"
installed=0
status=$(dpkg-query -W -f='${Status}' lumikey 2>/dev/null || true)
[[ -z "$status" || "$status" == *not-installed* ]] || fail "after removal dpkg reports '$status'"
while read -r f; do
  [[ "$f" == */ ]] && continue
  [[ ! -e "$f" && ! -L "$f" ]] || fail "$f is still there after dpkg -r"
done <"$E2E_TMP/contents"
[[ ! -e /usr/share/lumikey ]] || fail "/usr/share/lumikey is still there after dpkg -r"

echo "package checks passed"
