#!/usr/bin/env bash
# Picture of a closed solid made from the demo data, as the README shows it:
#   tools/render_solid.sh [BUILD_DIR] [OUTPUT]      defaults: build/release docs/solid.png
# Writes the demo data root into a temporary folder, makes the demo model of `./build.sh demo`
# with --solid, and renders the STL file with the f3d viewer on a private virtual X display.
# Needs f3d and Xvfb (Debian: f3d xvfb).
set -euo pipefail

cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
output=$(realpath -m "${2:-docs/solid.png}")
for program in "$build/src/orolith-cli" "$build/tools/make_demo_data"; do
  [[ -x $program ]] || { echo "render_solid.sh: $program not built" >&2; exit 1; }
done
for tool in f3d xvfb-run; do
  command -v "$tool" >/dev/null || { echo "render_solid.sh: $tool not found (apt-get install f3d xvfb)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/make_demo_data" "$work" >/dev/null
"$build/src/orolith-cli" create --data-root "$work" --lon 7.2 7.8 --lat 46.2 46.8 --elev 400 4000 \
  --x-extent 150 --z-extent 30 --base 10 --pixel 100 --solid --out "$work/solid.stl" --yes \
  >/dev/null
# Seen at a slant from above, so that two walls and the top show.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  f3d --up +Z --camera-azimuth-angle 30 --camera-elevation-angle 35 \
  --color 0.85,0.78,0.65 --bg-color 0.93,0.93,0.93 --resolution 1000,700 \
  --output "$output" "$work/solid.stl"
echo "$output"
