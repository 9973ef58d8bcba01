#!/usr/bin/env bash
# Runs the test suite of one build folder, headless (see test-env.sh).
set -euo pipefail
build=${1:?usage: run-tests.sh BUILD_DIR [ctest args...]}
shift
source "$(dirname "$0")/test-env.sh"

# ThreadSanitizer cannot map its shadow memory under the high-entropy address layout of some
# kernels; the tests run without address randomisation instead.
runner=()
if [[ "$build" == *thread* ]] && command -v setarch >/dev/null; then
  runner=(setarch "$(uname -m)" -R)
fi
# End-to-end tests drive one shared X server and private sound servers on a machine that may be
# busy; a test that fails is run once more, so a stall of the machine is told from a real fault
# (which fails both times).
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --repeat until-pass:2 "$@"
