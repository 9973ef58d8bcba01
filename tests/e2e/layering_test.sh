#!/usr/bin/env bash
# The modules include only the layers below them, as docs/ARCHITECTURE.md draws them: an include
# that points upward fails here with the file and the line.
set -euo pipefail
: "${LUMIKEY_SOURCE:?}"
cd "$LUMIKEY_SOURCE"

# Module -> the include folders it may use besides its own (src/ui: of main only the app record,
# main/app.hpp, which the screens work on).
declare -A allowed=(
  [support]=""
  [src/morse]="support"
  [src/platform]="support"
  [src/audio]="morse support"
  [src/phone]="morse platform support"
  [src/model]="audio morse phone platform support"
  [src/i18n]="model platform support"
  [src/ui]="audio i18n model morse phone platform support main/app.hpp"
  [src/main]="audio i18n model morse phone platform support ui"
)

bad=0
for module in "${!allowed[@]}"; do
  own=${module#src/}
  while IFS=: read -r file line include; do
    target=$(sed -n 's/.*#include "\([^"]*\)".*/\1/p' <<<"$include")
    [[ "$target" == */* ]] || continue
    dir=${target%%/*}
    ok=0
    [[ "$dir" == "$own" ]] && ok=1
    for a in ${allowed[$module]}; do
      [[ "$dir" == "$a" || "$target" == "$a" ]] && ok=1
    done
    if [[ $ok -eq 0 ]]; then
      echo "upward include: $file:$line: $target" >&2
      bad=1
    fi
  done < <(grep -Hn '^#include "' $(find "$module" -name '*.cpp' -o -name '*.hpp') || true)
done
# The screens work on the app record, and the record holds the screens' state: no circle, as
# long as the record takes that state from small state headers (never a screen's own header)
# that include nothing of main, and no header of the screens includes the record (only their
# .cpp files do).
while IFS=: read -r file line include; do
  target=$(sed -n 's/.*#include "\([^"]*\)".*/\1/p' <<<"$include")
  if grep -q '^#include "main/' "src/$target"; then
    echo "include circle: $file:$line: $target includes main" >&2
    bad=1
  fi
  # A screen's own header (its functions on the record) is no state header; the screen light
  # is a player channel, not a screen.
  case "$target" in
    ui/screen_*_state.hpp | ui/screen_light.hpp) ;;
    ui/screen_*)
      echo "include circle: $file:$line: the record includes a screen's header, $target" >&2
      bad=1
      ;;
  esac
done < <(grep -Hn '^#include "ui/' src/main/app.hpp || true)
while IFS=: read -r file line include; do
  echo "include circle: $file:$line: a screen header includes the app record" >&2
  bad=1
done < <(grep -Hn '^#include "main/' src/ui/*.hpp || true)

[[ $bad -eq 0 ]] || { echo "FAIL: see the includes above" >&2; exit 1; }
echo "every include points down the layers"
