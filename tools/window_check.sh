#!/usr/bin/env bash
# The window checked from outside, with real X events, on a private virtual X display:
#   tools/window_check.sh [BUILD_DIR]        default: build/release
# 1. The front panel typed as tools/screenshot.sh types it and "Create STL File": the model is
#    made and the log ends with "File has been saved".
# 2. The panel beside the front panel shows the model shaded (hundreds of colours), and a drag
#    on it turns it (the picture changes).
# 3. The map shows the hillshade (hundreds of colours). A drag on it sets the region; a drag half
#    as wide from the same corner gives half the longitude span, the same latitude span and the
#    same corner: the map did not move.
# Fields and log are read through the clipboard. Prints what it measured, exits 1 on a failure.
# Needs Xvfb, xdotool, xclip, ImageMagick and Mesa's software OpenGL
# (Debian: xvfb xauth xdotool xclip imagemagick libgl1-mesa-dri).
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
  cd "$(dirname "$0")/.."
  build=$(realpath "${1:-build/release}")
  for program in "$build/src/orolith" "$build/tools/make_demo_data"; do
    [[ -x $program ]] || { echo "window_check.sh: $program not built" >&2; exit 1; }
  done
  LIBGL_ALWAYS_SOFTWARE=1 exec xvfb-run -a -s "-screen 0 1440x900x24 -nolisten tcp" \
    "$0" --inside "$build"
fi

build=$2
work=$(mktemp -d)
app=
cleanup() {
  [[ -n $app ]] && kill "$app" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() { # description, then a test command
  local what=$1
  shift
  if "$@"; then echo "ok      $what"; else echo "FAILED  $what"; failures=$((failures + 1)); fi
}

"$build/tools/make_demo_data" "$work" >/dev/null
cd "$work"
QT_QPA_PLATFORM=xcb "$build/src/orolith" "DataRoot=$work" &
app=$!
xdotool search --sync --name "Marlowen Orolith 20130304" >/dev/null
sleep 1

fill() { # x y text
  xdotool mousemove "$1" "$2" click 1 key ctrl+a type --delay 15 "$3"
}
copy() { # x y: the text of the control there
  printf '' | xclip -selection clipboard
  xdotool mousemove "$1" "$2" click 1 key ctrl+a key ctrl+c
  sleep 0.2
  xclip -selection clipboard -o
}
drag() { # x1 y1 x2 y2, in steps as a hand moves
  local x1=$1 y1=$2 x2=$3 y2=$4 step
  xdotool mousemove "$x1" "$y1" mousedown 1
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((x1 + (x2 - x1) * step / 8)) $((y1 + (y2 - y1) * step / 8))
  done
  xdotool mouseup 1
}
colours() { # geometry of a part of the screen: its number of distinct colours
  import -window root -crop "$1" +repage png:- | convert png:- -format %k info:
}
region() { # the four region fields
  echo "$(copy 40 35) $(copy 200 35) $(copy 40 63) $(copy 200 63)"
}
map=560x790+810+27  # the panel's page, below its tabs

# 1. The front panel as the screenshot types it.
fill 40 35 7.2
fill 200 35 7.8
fill 40 63 46.2
fill 200 63 46.8
fill 200 91 4000
fill 40 91 400
fill 380 35 150
fill 380 85 30
fill 380 135 10
fill 60 158 "$work/demo.stl"
xdotool mousemove 1430 890
sleep 2
map_colours=$(colours $map)
xdotool mousemove 700 167 click 1
for _ in $(seq 1 120); do
  [[ -s $work/demo.stl ]] && break
  sleep 0.5
done
# The log's last line follows the file's rename.
sleep 1
log=$(copy 400 500)
last=$(printf '%s\n' "$log" | tail -n 1)
check "the model is made ($(stat -c %s "$work/demo.stl" 2>/dev/null || echo 0) bytes)" test -s "$work/demo.stl"
check "the log ends with \"$last\"" test "$last" = "File has been saved"

# 2. The model beside the front panel.
sleep 4
xdotool mousemove 1430 890
import -window root -crop $map +repage "$work/model-1.png"
model_colours=$(convert "$work/model-1.png" -format %k info:)
check "the panel shows the shaded model ($model_colours colours)" test "$model_colours" -ge 200
drag 1000 400 1150 430
xdotool mousemove 1430 890
sleep 1
import -window root -crop $map +repage "$work/model-2.png"
changed=$(compare -metric AE "$work/model-1.png" "$work/model-2.png" null: 2>&1 || true)
check "a drag turns the model ($changed of $((560 * 790)) pixels changed)" test "${changed%%.*}" -ge 20000

# 3. The map.
xdotool mousemove 831 14 click 1
check "the map shows a hillshade ($map_colours colours)" test "$map_colours" -ge 200
drag 860 150 1160 500
whole=$(region)
drag 860 150 1010 500
half=$(region)
echo "        whole drag: $whole"
echo "        half drag:  $half"
spans=$(awk -v w="$whole" -v h="$half" 'BEGIN {
  split(w, a, " "); split(h, b, " ");
  printf "%.6f %.6f %.6f %.6f", (b[2] - b[1]) / (a[2] - a[1]), (b[4] - b[3]) - (a[4] - a[3]),
         b[1] - a[1], b[4] - a[4] }')
read -r ratio lat_change west_change north_change <<<"$spans"
check "half as wide gives half the longitude span (ratio $ratio)" \
  awk -v r="$ratio" 'BEGIN { exit !(r > 0.4999 && r < 0.5001) }'
check "the same latitude span (changed by $lat_change)" \
  awk -v d="$lat_change" 'BEGIN { exit !(d * d < 1e-10) }'
check "the same corner (west by $west_change, north by $north_change)" \
  awk -v w="$west_change" -v n="$north_change" 'BEGIN { exit !(w * w + n * n < 1e-10) }'

[[ $failures -eq 0 ]] || { echo "window_check.sh: $failures checks failed" >&2; exit 1; }
echo "window_check.sh: all checks passed"
