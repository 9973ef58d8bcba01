#!/usr/bin/env bash
# The README's screenshots come from one script: it still finds its way to every screen (each
# picture is its own screen, not a missed click), and every picture the README shows exists.
source "$(dirname "$0")/lib.sh"
: "${LUMIKEY_SOURCE:?}"

"$LUMIKEY_SOURCE/tools/readme-screenshots.sh" "$LUMIKEY_BUILD" "$E2E_TMP/shots" >/dev/null ||
  fail "tools/readme-screenshots.sh failed"
names=(home play key receive options)
for name in "${names[@]}"; do
  size=$(identify -format '%wx%h' "$E2E_TMP/shots/$name.png" 2>/dev/null) || fail "no $name.png"
  [[ "$size" == 480x800 ]] || fail "$name.png is $size"
done
# The home screen's own background beside the preset cards.
home_pixel=$(identify -format '%[pixel:p{2,400}]' "$E2E_TMP/shots/home.png" | tr -d 'srgba()')
[[ "$home_pixel" == "52,52,62" ]] || fail "home.png does not show the home screen ($home_pixel)"
# Each other screen differs from home and from the others in a good part of the window.
for ((i = 0; i < ${#names[@]}; i++)); do
  for ((j = i + 1; j < ${#names[@]}; j++)); do
    a=${names[$i]} b=${names[$j]}
    diff=$(compare -metric AE -fuzz 2% "$E2E_TMP/shots/$a.png" "$E2E_TMP/shots/$b.png" null: 2>&1 || true)
    [[ "$diff" =~ ^[0-9]+$ && $diff -gt 20000 ]] || fail "$a.png and $b.png are nearly the same ($diff pixels differ)"
  done
done

shown=$(grep -o 'docs/screenshots/[a-z_]*\.png' "$LUMIKEY_SOURCE/README.md" | sort -u)
[[ -n "$shown" ]] || fail "the README shows no screenshot"
for path in $shown; do
  [[ -f "$LUMIKEY_SOURCE/$path" ]] || fail "the README shows $path, which is not there"
done
for name in "${names[@]}"; do
  grep -qx "docs/screenshots/$name.png" <<<"$shown" || fail "the README does not show $name.png"
done
echo "README screenshots are reproducible"
