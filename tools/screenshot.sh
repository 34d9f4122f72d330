#!/usr/bin/env bash
# Picture of the main window after a model has been made from the demo data:
#   tools/screenshot.sh [BUILD_DIR] [OUTPUT]      defaults: build/release docs/window.png
# Runs the real program on a private virtual X display, fills the front panel and clicks
# "Create STL File" with synthetic mouse and key events, then photographs the screen.
# Needs Xvfb, xdotool and ImageMagick's import (Debian: xvfb xdotool imagemagick).
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
  cd "$(dirname "$0")/.."
  build=$(realpath "${1:-build/release}")
  output=$(realpath -m "${2:-docs/window.png}")
  for program in "$build/src/orolith" "$build/tools/make_demo_data"; do
    [[ -x $program ]] || { echo "screenshot.sh: $program not built" >&2; exit 1; }
  done
  exec xvfb-run -a -s "-screen 0 1024x900x24 -nolisten tcp" "$0" --inside "$build" "$output"
fi

build=$2
output=$3
work=$(mktemp -d)
app=
cleanup() {
  [[ -n $app ]] && kill "$app" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/make_demo_data" "$work" >/dev/null
cd "$work"
"$build/src/orolith" "DataRoot=$work" &
app=$!
xdotool search --sync --name "Marlowen Orolith 20130304" >/dev/null
sleep 1

# Without a window manager the window's client area starts at the screen's corner, so a
# control's screen position is its group's position plus its own.
fill() { # x y text
  xdotool mousemove "$1" "$2" click 1 key ctrl+a type --delay 15 "$3"
}
fill 40 35 7.2      # Long1Ctl
fill 200 35 7.8     # Long2Ctl
fill 40 63 46.2     # Lat1Ctl
fill 200 63 46.8    # Lat2Ctl
fill 200 91 4000    # Z2Ctl
fill 40 91 400      # Z1Ctl
fill 380 35 150     # XSizeCtl
fill 380 63 30      # ZSizeCtl
fill 380 104 10     # ZBaseCtl
fill 60 138 "$work/demo.stl"   # SaveFilenameCtl
xdotool mousemove 700 167 click 1   # CreateStlCtl

# The model is written under a temporary name and renamed when complete.
for _ in $(seq 1 120); do
  [[ -s $work/demo.stl ]] && break
  sleep 0.5
done
[[ -s $work/demo.stl ]] || { echo "screenshot.sh: no model was made" >&2; exit 1; }
sleep 1
xdotool mousemove 1000 880
mkdir -p "$(dirname "$output")"
import -window root -crop 810x817+0+0 +repage "$output"
echo "screenshot.sh: wrote $output"
