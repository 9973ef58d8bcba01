#!/usr/bin/env bash
# Runs every benchmark of a build folder; each prints its own figures.
set -euo pipefail
build=${1:?usage: run-benches.sh BUILD_DIR}
shopt -s nullglob
benches=("$build"/bench/*_bench)
if [[ ${#benches[@]} -eq 0 ]]; then
  echo "no benchmarks yet"
  exit 0
fi
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
for bench in "${benches[@]}"; do
  echo "== $(basename "$bench")"
  (cd "$build" && "$OLDPWD/$bench")
done
