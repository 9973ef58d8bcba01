#!/usr/bin/env bash
# cmake --install into a private prefix: every file a desktop needs is there and valid, the
# manual pages are found by man, and the installed program runs on the installed assets alone.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/desktop_lib.sh"

prefix=$E2E_TMP/prefix
echo "== install into $prefix"
cmake --install "$LUMIKEY_BUILD" --prefix "$prefix" >"$E2E_TMP/install.log" 2>&1 ||
  fail "cmake --install failed: $(tail -5 "$E2E_TMP/install.log")"
for f in bin/lumikey bin/lumikey-decode share/lumikey/assets/fonts/DejaVuSans.ttf \
  share/lumikey/assets/lang/fr.json share/lumikey/assets/presets/defaults_en.json \
  share/lumikey/assets/icons/org.lumikey.Lumikey.png; do
  [[ -r "$prefix/$f" ]] || fail "$f is not installed (or not readable)"
done
# Only the two programs: the test and helper programs of the build stay out.
[[ "$(ls "$prefix/bin" | tr '\n' ' ')" == "lumikey lumikey-decode " ]] ||
  fail "bin holds $(ls "$prefix/bin" | tr '\n' ' ')"

echo "== menu entry, AppStream file and icons"
check_desktop_files "$prefix"

echo "== manual pages through man's own search path"
for page in lumikey lumikey-decode; do
  found=$(MANPATH="$prefix/share/man" man -w "$page" 2>/dev/null) || fail "man does not find $page"
  [[ "$found" == "$prefix/share/man/man1/$page.1.gz" ]] || fail "man finds $page at $found"
  MANPATH="$prefix/share/man" MANPAGER=cat MANWIDTH=80 man --warnings "$page" >/dev/null 2>"$E2E_TMP/warn" ||
    fail "man could not show $page"
  [[ ! -s "$E2E_TMP/warn" ]] || fail "$page: $(cat "$E2E_TMP/warn")"
done

echo "== the installed program runs from the menu entry's command"
check_installed_run "$prefix"

echo "install checks passed"
