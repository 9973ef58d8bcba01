#!/usr/bin/env bash
# Runs every benchmark of a build folder, headless (see test-env.sh); each prints its figures.
set -euo pipefail
build=${1:?usage: run-benches.sh BUILD_DIR}
source "$(dirname "$0")/test-env.sh"
shopt -s nullglob
benches=("$build"/bench/*_bench)
if [[ ${#benches[@]} -eq 0 ]]; then
  echo "no benchmarks yet"
  exit 0
fi
for bench in "${benches[@]}"; do
  echo "== $(basename "$bench")"
  (cd "$build" && "$OLDPWD/$bench")
done
