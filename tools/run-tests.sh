#!/usr/bin/env bash
# Runs the test suite of one build folder. Starts a private Xvfb when no display is set,
# and sends audio to OpenAL's null output unless the caller chose a driver.
set -euo pipefail
build=${1:?usage: run-tests.sh BUILD_DIR [ctest args...]}
shift

if [[ -z "${DISPLAY:-}" ]]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true; rm -f "$fifo"' EXIT
  read -r -t 20 number <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$number"
fi
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
# The X11 and OpenGL driver libraries keep caches until exit; their leaks are not ours. The
# slow unwinder is needed to see through the driver's frames to the library names.
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/lsan.supp:fast_unwind_on_malloc=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# ThreadSanitizer cannot map its shadow memory under the high-entropy address layout of
# recent kernels; the tests run without address randomisation instead.
runner=()
if [[ "$build" == *thread* ]] && command -v setarch >/dev/null; then
  runner=(setarch "$(uname -m)" -R)
fi
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
