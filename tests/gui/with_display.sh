#!/bin/sh
# Runs a test program on an X display with Mesa's software renderer: the display there is, or a
# private virtual one when there is none (Debian: xvfb xauth libgl1-mesa-dri).
export QT_QPA_PLATFORM=xcb
export LIBGL_ALWAYS_SOFTWARE=1
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "with_display.sh: no DISPLAY and no xvfb-run to make one" >&2
  exit 1
fi
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" "$@"
