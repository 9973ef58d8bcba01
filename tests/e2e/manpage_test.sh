#!/usr/bin/env bash
# The manual pages render without a warning from man, groff or the macros, at the width of a
# terminal and at a narrow one, and name the version the programs were built as.
source "$(dirname "$0")/lib.sh"
: "${LUMIKEY_SOURCE:?}" "${LUMIKEY_DECODE:?}"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LUMIKEY_BUILD/CMakeCache.txt")
[[ -n "$version" ]] || fail "no project version in the build's cache"

for page in lumikey lumikey-decode; do
  file="$LUMIKEY_SOURCE/docs/$page.1"
  echo "== $page(1)"
  for width in 80 60; do
    MANWIDTH=$width MANPAGER=cat man --warnings -l "$file" >"$E2E_TMP/$page.txt" 2>"$E2E_TMP/warnings" ||
      fail "man could not render $file"
    [[ ! -s "$E2E_TMP/warnings" ]] || fail "$page(1) at $width columns: $(cat "$E2E_TMP/warnings")"
  done
  grep -q "^NAME" "$E2E_TMP/$page.txt" || fail "$page(1) rendered without its NAME section"
  th_version=$(sed -n 's/^\.TH [^"]*"[^"]*" "[^" ]* \([^"]*\)".*/\1/p' "$file")
  [[ "$th_version" == "$version" ]] || fail "$page(1) says version '$th_version', the build is $version"
done

# The decoder says its own version; its page must not lag behind a release.
decode_version=$("$LUMIKEY_DECODE" --version | grep -o '[0-9][0-9.]*' | head -1)
[[ "$decode_version" == "$version" ]] || fail "lumikey-decode --version says $decode_version"

echo "both manual pages render cleanly"
