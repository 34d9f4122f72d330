#!/usr/bin/env bash
# Pictures of the main window after a model has been made from the demo data:
#   tools/screenshot.sh [BUILD_DIR] [WINDOW_PNG] [MODEL_PNG] [MAP_PNG]
#   defaults: build/release docs/window.png docs/model.png docs/map.png
# Runs the real program on a private virtual X display, fills the front panel and clicks
# "Create STL File" with synthetic mouse and key events, then photographs the panel beside the
# front panel showing the model, the whole window showing the map of the region, and the map
# zoomed out around it with its geography, after a search for Zermatt.
# Needs Xvfb, xdotool, ImageMagick's import and Mesa's software OpenGL
# (Debian: xvfb xauth xdotool imagemagick libgl1-mesa-dri).
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
  cd "$(dirname "$0")/.."
  build=$(realpath "${1:-build/release}")
  window=$(realpath -m "${2:-docs/window.png}")
  model=$(realpath -m "${3:-docs/model.png}")
  map=$(realpath -m "${4:-docs/map.png}")
  for program in "$build/src/orolith" "$build/tools/make_demo_data"; do
    [[ -x $program ]] || { echo "screenshot.sh: $program not built" >&2; exit 1; }
  done
  LIBGL_ALWAYS_SOFTWARE=1 exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" \
    "$0" --inside "$build" "$window" "$model" "$map"
fi

build=$2
window=$3
model=$4
map=$5
work=$(mktemp -d)
app=
cleanup() {
  [[ -n $app ]] && kill "$app" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/make_demo_data" "$work" >/dev/null
cd "$work"
QT_QPA_PLATFORM=xcb "$build/src/orolith" "DataRoot=$work" &
app=$!
xdotool search --sync --name "Marlowen Orolith 20130304" >/dev/null
sleep 1

# Without a window manager the window's client area starts at the screen's corner, so a
# control's screen position is its group's position plus its own. The front panel is 810
# pixels wide; the panel of the map and the model is beside it, its tabs at the top.
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
fill 380 85 30      # ZSizeCtl
fill 380 135 10     # ZBaseCtl
fill 60 158 "$work/demo.stl"   # SaveFilenameCtl
xdotool mousemove 460 143 click 1   # SolidCtl
xdotool mousemove 700 167 click 1   # CreateStlCtl

# The model is written under a temporary name and renamed when complete.
for _ in $(seq 1 120); do
  [[ -s $work/demo.stl ]] && break
  sleep 0.5
done
[[ -s $work/demo.stl ]] || { echo "screenshot.sh: no model was made" >&2; exit 1; }
# The view reads the file on a thread of its own.
sleep 4
xdotool mousemove 1430 890
mkdir -p "$(dirname "$window")" "$(dirname "$model")"
import -window root -crop 560x817+810+0 +repage "$model"
echo "screenshot.sh: wrote $model"

xdotool mousemove 831 14 click 1    # the "Map" tab
xdotool mousemove 1430 890
sleep 2
import -window root -crop 1370x817+0+0 +repage "$window"
echo "screenshot.sh: wrote $window"

# The search bar is the map panel's first row; the map fills the panel below it.
xdotool mousemove 1000 41 click 1 key ctrl+a type --delay 15 "Zermatt"
xdotool key Escape key Return
sleep 1
xdotool mousemove 1090 420
for _ in $(seq 1 16); do
  xdotool click 5
  sleep 0.05
done
xdotool mousemove 1430 890
sleep 2
mkdir -p "$(dirname "$map")"
import -window root -crop 560x817+810+0 +repage "$map"
echo "screenshot.sh: wrote $map"

