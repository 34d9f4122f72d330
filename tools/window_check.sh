#!/usr/bin/env bash
# The window checked from outside, with real X events, on private virtual X displays with a
# window manager (openbox: a title bar, and a 32-pixel panel reserved at the bottom):
#   tools/window_check.sh [BUILD_DIR] [SHOTS_DIR]     defaults: build/release, a new folder
# On a 1366 x 768 laptop screen:
# 1. The window with its frame fits the screen's free area.
# 2. The front panel typed as tools/screenshot.sh types it and "Create STL File": the model is
#    made and the log ends with "File has been saved". "Test for SRTM Files" then ends the log
#    with its last line (shots/laptop-test.png shows it in view).
# 3. The 3D view shows the model shaded (hundreds of colours), and a drag turns it.
# 4. The map shows the hillshade. A drag on it sets the region; a drag half as wide from the
#    same corner gives half the longitude span, the same latitude span and the same corner.
# 5. "Select STL Filename ..." lists the files of its folder (shots/laptop-save-dialog.png).
# 6. A model of a whole SRTM-1 tile at 30 m (2.2 GB) stopped by Escape, by Stop and by closing
#    the window: within 2 s the log says "Stopped by the user" (or the program has ended), and
#    no file and no temporary is left.
# On a 1920 x 1200 screen:
# 7. Made that large, the log and the map take the room (the log's white reaches the bottom,
#    the map's hillshade the right).
# 8. At QT_SCALE_FACTOR=2 the window with its frame still fits.
# Fields and log are read through the clipboard. Prints what it measured, exits 1 on a failure.
# Needs Xvfb, openbox, xdotool, xclip, xprop, xwininfo, ImageMagick and Mesa's software OpenGL
# (Debian: xvfb xauth openbox xdotool xclip x11-utils imagemagick libgl1-mesa-dri).
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
  cd "$(dirname "$0")/.."
  build=$(realpath "${1:-build/release}")
  shots=$(realpath -m "${2:-$(mktemp -d /tmp/window-check.XXXXXX)}")
  mkdir -p "$shots"
  for program in "$build/src/orolith" "$build/tools/make_demo_data"; do
    [[ -x $program ]] || { echo "window_check.sh: $program not built" >&2; exit 1; }
  done
  status=0
  for screen in laptop large; do
    size=1366x768
    [[ $screen == large ]] && size=1920x1200
    LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" \
      "$0" --inside "$screen" "$build" "$shots" || status=1
  done
  echo "window_check.sh: screenshots in $shots"
  [[ $status -eq 0 ]] || { echo "window_check.sh: checks failed" >&2; exit 1; }
  echo "window_check.sh: all checks passed"
  exit 0
fi

screen=$2
build=$3
shots=$4
work=$(mktemp -d)
app=
wm=
cleanup() {
  [[ -n $app ]] && kill "$app" 2>/dev/null
  [[ -n $wm ]] && kill "$wm" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() { # description, then a test command
  local what=$1
  shift
  if "$@"; then echo "ok      $what"; else echo "FAILED  $what"; failures=$((failures + 1)); fi
}

cat >"$work/rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>0</top><bottom>32</bottom><left>0</left><right>0</right></margins>
  <keyboard><keybind key="A-F4"><action name="Close"/></keybind></keyboard>
</openbox_config>
EOF
openbox --config-file "$work/rc.xml" &
wm=$!
sleep 1
"$build/tools/make_demo_data" "$work/demo" >/dev/null
"$build/tools/make_demo_data" --srtm1 "$work/srtm1" >/dev/null
cd "$work"

window=
start() { # data root, extra environment...
  local root=$1
  shift
  env QT_QPA_PLATFORM=xcb "$@" "$build/src/orolith" "DataRoot=$root" &
  app=$!
  xdotool search --sync --onlyvisible --name "Marlowen Orolith 20130304" >/dev/null
  # Until the window manager's frame is there and the window fits inside it; Qt may have made
  # the window anew for OpenGL meanwhile.
  sleep 2
  window=$(xdotool search --onlyvisible --name "Marlowen Orolith 20130304" | head -1)
}
quit() {
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
  app=
}
click() { # x y, in the window
  xdotool mousemove --window "$window" "$1" "$2" click 1
}
fill() { # x y text
  click "$1" "$2"
  xdotool key ctrl+a type --delay 15 "$3"
}
copy() { # x y: the text of the control there
  local text= _
  printf '' | xclip -selection clipboard
  click "$1" "$2"
  xdotool key ctrl+a key ctrl+c
  # A busy machine may take a while to hand the text over.
  for _ in $(seq 1 20); do
    sleep 0.1
    text=$(xclip -selection clipboard -o 2>/dev/null || true)
    [[ -n $text ]] && break
  done
  printf '%s\n' "$text"
}
client() { # the window's client area: x y width height on the screen
  xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}
frame_fits() { # the frame inside the work area
  local x y w h left right top bottom area
  read -r x y w h <<<"$(client)"
  read -r left right top bottom <<<"$(xprop -id "$window" _NET_FRAME_EXTENTS | tr -d ',' |
    awk '{print $3, $4, $5, $6}')"
  area=$(xprop -root _NET_WORKAREA | tr -d ',' | awk '{print $3, $4, $5, $6}')
  echo "        client ${w}x${h} at $x,$y, frame $left $right $top $bottom, work area $area"
  read -r ax ay aw ah <<<"$area"
  ((x - left >= ax && y - top >= ay && x + w + right <= ax + aw && y + h + bottom <= ay + ah))
}
shot() { # name [crop in the window: WxH+X+Y]
  local x y w h
  read -r x y w h <<<"$(client)"
  if [[ -n ${2:-} ]]; then
    local cw ch cx cy
    IFS='x+' read -r cw ch cx cy <<<"$2"
    import -window root -crop "${cw}x${ch}+$((x + cx))+$((y + cy))" +repage "$shots/$1.png"
  else
    import -window root -crop "${w}x${h}+$x+$y" +repage "$shots/$1.png"
  fi
}
settled() { # name crop [reference]: a picture of part of the window once it no longer
  # changes (and, given a reference picture, once it differs from that)
  local _
  shot "$1" "$2"
  if [[ -n ${3:-} ]]; then
    for _ in $(seq 1 30); do
      [[ $(compare -metric AE "$3" "$shots/$1.png" null: 2>&1 || true) != 0 ]] && break
      sleep 0.5
      shot "$1" "$2"
    done
  fi
  for _ in $(seq 1 30); do
    sleep 0.5
    cp "$shots/$1.png" "$work/before.png"
    shot "$1" "$2"
    [[ $(compare -metric AE "$work/before.png" "$shots/$1.png" null: 2>&1 || true) == 0 ]] && return
  done
}
colours() { # a picture: its number of distinct colours
  convert "$1" -format %k info:
}
drag() { # x1 y1 x2 y2 in the window, in steps as a hand moves
  local x1=$1 y1=$2 x2=$3 y2=$4 step
  xdotool mousemove --window "$window" "$x1" "$y1" mousedown 1
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove --window "$window" $((x1 + (x2 - x1) * step / 8)) $((y1 + (y2 - y1) * step / 8))
  done
  xdotool mouseup 1
}
last_line() { # the log's last line; the log is in the front panel's lower half
  copy 400 "$1" | tail -n 1
}
height() {
  client | awk '{print $4}'
}
wait_for_file() {
  for _ in $(seq 1 120); do
    [[ -s $1 ]] && return 0
    sleep 0.5
  done
  return 1
}

if [[ $screen == laptop ]]; then
  start "$work/demo"
  check "the window with its frame fits the 1366 x 768 screen above its panel" frame_fits
  H=$(height)
  log_y=$((H / 2 + 150))
  shot laptop-start

  # 2. The demo model, then the coverage check.
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
  xdotool mousemove 1360 760
  sleep 2
  shot laptop-map 540x600+820+40
  map_colours=$(colours "$shots/laptop-map.png")
  click 700 167
  wait_for_file "$work/demo.stl" || true
  sleep 1
  last=$(last_line $log_y)
  check "the model is made ($(stat -c %s "$work/demo.stl" 2>/dev/null || echo 0) bytes)" test -s "$work/demo.stl"
  check "the log ends with \"$last\"" test "$last" = "File has been saved"

  # 3. The model beside the front panel, once read and drawn.
  sleep 2
  xdotool mousemove 1360 760
  settled laptop-model-1 540x600+820+40
  model_colours=$(colours "$shots/laptop-model-1.png")
  check "the 3D view shows the shaded model ($model_colours colours)" test "$model_colours" -ge 200
  drag 1000 300 1150 330
  xdotool mousemove 1360 760
  settled laptop-model-2 540x600+820+40 "$shots/laptop-model-1.png"
  changed=$(compare -metric AE "$shots/laptop-model-1.png" "$shots/laptop-model-2.png" null: 2>&1 || true)
  check "a drag turns the model ($changed pixels changed)" test "${changed%%.*}" -ge 20000

  click 700 39
  sleep 1
  last=$(last_line $log_y)
  shot laptop-test
  check "after \"Test for SRTM Files\" the log ends with \"$last\"" test "$last" = "All required SRTM files found"

  # 4. The map.
  click 831 14
  check "the map shows a hillshade ($map_colours colours)" test "$map_colours" -ge 200
  region() { echo "$(copy 40 35) $(copy 200 35) $(copy 40 63) $(copy 200 63)"; }
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

  # 5. The save dialog in the folder of the model just made.
  click 140 187
  sleep 2
  import -window root "$shots/laptop-save-dialog.png"
  dialog=$(xdotool getactivewindow)
  check "the save dialog is open" test "$dialog" != "$window"
  xdotool key Escape
  sleep 1
  quit

  # 6. A long model, stopped three ways.
  mkdir -p "$work/out"
  for how in Escape Stop close; do
    start "$work/srtm1"
    H=$(height)
    fill 40 35 7
    fill 200 35 8
    fill 40 63 46
    fill 200 63 47
    fill 200 91 4000
    fill 380 35 150
    fill 380 85 30
    fill 380 160 30
    fill 60 158 "$work/out/tile.stl"
    click 700 167
    sleep 1
    # The size question: OK, its default.
    xdotool key Return
    sleep 3
    shot "laptop-running-$how"
    began=$(date +%s.%N)
    case $how in
      Escape) xdotool key Escape ;;
      Stop) click 760 $((H - 20)) ;;
      close) xdotool key alt+F4 ;;
    esac
    ended=
    for _ in $(seq 1 40); do
      if [[ $how == close ]]; then
        kill -0 "$app" 2>/dev/null || { ended=$(date +%s.%N); break; }
        sleep 0.1
      elif [[ $(last_line $((H / 2 + 150))) == "Stopped by the user" ]]; then
        ended=$(date +%s.%N)
        break
      fi
    done
    took=$(awk -v a="$began" -v b="${ended:-$began}" 'BEGIN { printf "%.1f", b - a }')
    [[ $how == close ]] || shot "laptop-stopped-$how"
    check "$how: the run ended in $took s" test -n "$ended"
    check "$how: ... within 2 s" awk -v t="$took" 'BEGIN { exit !(t <= 2.0) }'
    left=$(ls -A "$work/out")
    check "$how: no file and no temporary left (${left:-none})" test -z "$left"
    quit
  done
else
  # 7. Made large, the log and the map take the room.
  start "$work/demo"
  xdotool windowsize "$window" 1900 1140
  sleep 1
  # The region typed in, and the field left: the map shows it at its new size.
  fill 40 35 7.2
  fill 200 35 7.8
  fill 40 63 46.2
  fill 200 63 46.8
  xdotool key Tab
  sleep 3
  xdotool mousemove 1910 1190
  shot large
  log_bottom=$(convert "$shots/large.png" -crop 600x100+100+1000 +repage -format '%[fx:mean]' info:)
  convert "$shots/large.png" -crop 400x800+1450+100 +repage "$work/right.png"
  map_right=$(colours "$work/right.png")
  check "the log reaches the bottom (brightness $log_bottom)" \
    awk -v b="$log_bottom" 'BEGIN { exit !(b > 0.98) }'
  check "the map reaches the right ($map_right colours)" test "$map_right" -ge 200
  quit

  # 8. At twice the scale.
  start "$work/demo" QT_SCALE_FACTOR=2
  check "at QT_SCALE_FACTOR=2 the window with its frame fits the 1920 x 1200 screen" frame_fits
  import -window root "$shots/large-scale2.png"
  quit
fi

[[ $failures -eq 0 ]] || { echo "window_check.sh ($screen): $failures checks failed" >&2; exit 1; }
