# Sourced by run-tests.sh and run-benches.sh: a display, audio and sanitizer settings for
# programs that run headless.

# A private Xvfb when no display is set. -noreset keeps it up between clients: by default it
# resets whenever its last client disconnects and refuses connections meanwhile.
if [[ -z "${DISPLAY:-}" ]]; then
  _xvfb_fifo=$(mktemp -u)
  mkfifo "$_xvfb_fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$_xvfb_fifo" 2>/dev/null &
  _xvfb_pid=$!
  trap 'kill $_xvfb_pid 2>/dev/null || true; rm -f "$_xvfb_fifo"' EXIT
  read -r -t 20 _xvfb_number <"$_xvfb_fifo" || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$_xvfb_number"
fi

export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
# Mesa's software renderer would start drawing threads of its own: one thread is plenty for
# test windows, and ThreadSanitizer cannot see Mesa's own synchronisation.
export LP_NUM_THREADS=${LP_NUM_THREADS:-0}
# The X11 and OpenGL driver libraries keep caches until exit; their leaks are not ours.
_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LUMIKEY_LSAN_SUPP=$_tools/lsan.supp
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$LUMIKEY_LSAN_SUPP}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tsan.supp}
