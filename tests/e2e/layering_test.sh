#!/usr/bin/env bash
# The modules include only the layers below them, as docs/ARCHITECTURE.md draws them: an include
# that points upward fails here with the file and the line.
set -euo pipefail
: "${LUMIKEY_SOURCE:?}"
cd "$LUMIKEY_SOURCE"

# Module -> the include folders it may use besides its own (src/ui: main/app.hpp only).
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
[[ $bad -eq 0 ]] || { echo "FAIL: see the includes above" >&2; exit 1; }
echo "every include points down the layers"
