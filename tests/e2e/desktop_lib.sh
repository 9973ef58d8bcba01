# Checks shared by the install and package tests: the files a desktop needs to list, show and
# start the program, looked at where they were installed. Sourced after lib.sh.

APP_ID=org.lumikey.Lumikey

# desktop_value FILE KEY: the value of KEY in the [Desktop Entry] group.
desktop_value() {
  sed -n "/^\[Desktop Entry\]/,/^\[/s/^$2=//p" "$1" | head -1
}

# check_desktop_files ROOT: ROOT is the installed prefix (…/usr). Validates the menu entry and the
# AppStream file with Debian's own tools, and checks that what they name is there.
check_desktop_files() {
  local root=$1 desktop=$1/share/applications/$APP_ID.desktop metainfo=$1/share/metainfo/$APP_ID.metainfo.xml
  [[ -f "$desktop" ]] || fail "no menu entry at $desktop"
  [[ -f "$metainfo" ]] || fail "no AppStream file at $metainfo"
  desktop-file-validate "$desktop" >"$E2E_TMP/validate" 2>&1 || fail "desktop-file-validate: $(cat "$E2E_TMP/validate")"
  [[ ! -s "$E2E_TMP/validate" ]] || fail "desktop-file-validate had remarks: $(cat "$E2E_TMP/validate")"
  appstreamcli validate --no-net "$metainfo" >"$E2E_TMP/validate" 2>&1 ||
    fail "appstreamcli validate: $(cat "$E2E_TMP/validate")"

  local exec icon
  exec=$(desktop_value "$desktop" Exec)
  [[ -x "$root/bin/${exec%% *}" ]] || fail "the menu entry runs '$exec', not installed in $root/bin"
  icon=$(desktop_value "$desktop" Icon)
  [[ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ]] || fail "no scalable icon named $icon"
  local size got
  for size in 48 128 256; do
    got=$(identify -format '%wx%h' "$root/share/icons/hicolor/${size}x${size}/apps/$icon.png" 2>/dev/null) ||
      fail "no ${size}px icon named $icon"
    [[ "$got" == "${size}x${size}" ]] || fail "the ${size}px icon is $got"
  done
  grep -qF "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" ||
    fail "the AppStream file does not launch $APP_ID.desktop"
  grep -qF "<id>$APP_ID</id>" "$metainfo" || fail "the AppStream id is not $APP_ID"
  grep -qF "<project_license>MIT</project_license>" "$metainfo" ||
    fail "the AppStream file does not name the MIT licence"
  # Debian's machine-readable copyright file, Expat being its name for the MIT licence.
  local copyright=$root/share/doc/lumikey/copyright
  grep -qx "License: Expat" "$copyright" 2>/dev/null || fail "no copyright file naming the licence"
  grep -qF "Copyright: 2026 Lumikey developers" "$copyright" || fail "the copyright file names no holder"

  # The newest release listed must be the one built, or software centres show an old version.
  local version listed
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LUMIKEY_BUILD/CMakeCache.txt")
  listed=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
  [[ "$listed" == "$version" ]] || fail "the AppStream file's newest release is $listed, the build is $version"
}

# check_installed_run ROOT: starts the program the way the menu entry does, from a folder with
# no assets, in French, and checks that it found the installed assets, that its window is the
# one the menu entry announces, with the installed icon, and that Escape quits with status 0.
check_installed_run() {
  local root=$1 desktop=$1/share/applications/$APP_ID.desktop exec
  exec=$(desktop_value "$desktop" Exec)
  mkdir -p "$E2E_TMP/elsewhere"
  cd "$E2E_TMP/elsewhere"
  LUMIKEY_BIN=$(PATH="$root/bin:/usr/bin:/bin" command -v "${exec%% *}")
  [[ "$LUMIKEY_BIN" == "$root/bin/"* ]] || fail "the menu entry's command resolves to $LUMIKEY_BIN"
  start_lumikey LANG=fr_FR.UTF-8 LC_ALL= LC_MESSAGES=
  local win class
  win=$(wait_window)
  wait_log "started"
  expect_log "language: fr"
  grep -q "first run: [1-9][0-9]* default presets installed (presets/defaults_fr.json)" "$E2E_TMP/log" ||
    fail "the installed default presets were not found"
  ! grep -q "could not load font" "$E2E_TMP/log" || fail "the installed font was not found"
  class=$(xprop -id "$win" WM_CLASS | sed -n 's/.*= "\([^"]*\)".*/\1/p')
  [[ "$class" == "$(desktop_value "$desktop" StartupWMClass)" ]] ||
    fail "the window's class $class is not the menu entry's StartupWMClass"
  has_own_icon "$win" || fail "the installed program's window lacks its icon"
  xdotool key --window "$win" Escape
  wait_exit 10
  [[ $EXIT_STATUS -eq 0 ]] || fail "the installed program quit with status $EXIT_STATUS"
  cd - >/dev/null
}
