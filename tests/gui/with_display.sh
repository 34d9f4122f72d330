#!/bin/sh
# Runs a test program on an X display with Mesa's software renderer: the display there is, or a
# private virtual one when there is none (Debian: xvfb xauth libgl1-mesa-dri).
export QT_QPA_PLATFORM=xcb
export LIBGL_ALWAYS_SOFTWARE=1
# Mesa's GLX keeps two blocks of 56 bytes for every process that makes a context, allocated
# from code the leak checker can't name, so no suppression can single them out. In the
# sanitizer build the address and undefined-behaviour checks still run; the leak check of the
# view's own memory is the one of its plain C++ part (preview_tests).
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
fi
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "with_display.sh: no DISPLAY and no xvfb-run to make one" >&2
  exit 1
fi
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" "$@"
