#!/usr/bin/env bash
# End-to-end speed and memory of `orolith-cli create`:
#   (a) a 1 x 1 degree region over the real SRTM-3 tile N44W072 at 90 m cells (about 5 M faces)
#   (b) a full synthetic SRTM-1 tile at 30 m cells (about 44 M faces, 2.2 GB)
# Each case is shown beside the time one `dd` takes to write the same number of bytes in the
# same run, with the peak resident memory against the budget of 48 bytes a face plus 64 MB, and
# beside bench/minimal_generator making the same region: the time a face takes in each and the
# ratio orolith-cli / minimal generator.
#
#   bench/cli_bench.sh [BUILD_DIR]     (default build/release; needs src/orolith-cli,
#                                       bench/minimal_generator and tools/make_demo_data built there)
# The models go to a temporary folder (TMPDIR) that is removed at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
cli=$build/src/orolith-cli
maker=$build/tools/make_demo_data
reference=$build/bench/minimal_generator
shared=${OROLITH_SHARED_DATA:-$here/../../shared/data}
for program in "$cli" "$maker" "$reference"; do
  [[ -x $program ]] || { echo "cli_bench: $program is not built" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "cli_bench: /usr/bin/time is needed for the peak memory" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orolith-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# run_case NAME DATA_ROOT TILE LON_MIN LON_MAX LAT_MIN LAT_MAX ELEV_MIN ELEV_MAX X_EXTENT Z_EXTENT PIXEL
# TILE is the one tile of DATA_ROOT the region lies in, for the minimal generator.
run_case() {
  local name=$1 root=$2 tile=$3
  shift 3
  local lon=("$1" "$2") lat=("$3" "$4") elev=("$5" "$6") xext=$7 zext=$8 pixel=$9
  local stl=$work/$name.stl
  # Each program starts with no dirty pages of the one before, so none pays for another's
  # writeback.
  sync
  local start=$EPOCHREALTIME
  # Every log line is stamped as it arrives, which splits the run into generation and saving.
  /usr/bin/time -f '%e %M' -o "$work/time" "$cli" create --data-root "$root" --lon "${lon[@]}" \
    --lat "${lat[@]}" --elev "${elev[@]}" --x-extent "$xext" --z-extent "$zext" --base 0 \
    --pixel "$pixel" --yes -o "$stl" |
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$work/log"
  local wall rss faces saving saved bytes
  read -r wall rss <"$work/time"
  faces=$(sed -n 's/^[0-9.]* \([0-9]*\) Faces created, now saving to .*/\1/p' "$work/log")
  saving=$(awk '/ Faces created, now saving to /{ print $1 }' "$work/log")
  saved=$(awk '/ File has been saved$/{ print $1 }' "$work/log")
  bytes=$(stat -c %s "$stl")
  rm -f "$stl"
  sync

  local dd_start=$EPOCHREALTIME
  dd if=/dev/zero of="$work/dd.bin" bs=4M count="$bytes" iflag=count_bytes status=none
  local dd_time
  dd_time=$(seconds "$dd_start" "$EPOCHREALTIME")
  rm -f "$work/dd.bin"
  sync

  local ref_start=$EPOCHREALTIME ref_time ref_faces
  "$reference" "$tile" "$work/reference.stl" "${lon[@]}" "${lat[@]}" "${elev[@]}" "$xext" "$zext" \
    0 "$pixel" >"$work/reference.log"
  ref_time=$(awk -v a="$ref_start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }')
  ref_faces=$(sed -n 's/^\([0-9]*\) faces written to .*/\1/p' "$work/reference.log")
  rm -f "$work/reference.stl"

  awk -v name="$name" -v faces="$faces" -v bytes="$bytes" -v wall="$wall" -v rss="$rss" \
    -v gen="$(seconds "$start" "$saving")" -v save="$(seconds "$saving" "$saved")" \
    -v dd="$dd_time" -v ref="$ref_time" -v ref_faces="$ref_faces" 'BEGIN {
      budget = (faces * 48 + 64 * 1048576) / 1048576
      printf "%s: %.0f faces, %.1f MB file\n", name, faces, bytes / 1e6
      printf "  orolith-cli  %6.2f s  (generation %s s, saving %s s)  %5.2f M faces/s\n",
             wall, gen, save, faces / wall / 1e6
      printf "  dd           %6.2f s  for the same %.0f bytes\n", dd, bytes
      printf "  peak RSS     %6.0f MB  (budget 48 B a face + 64 MB = %.0f MB)  %s\n",
             rss / 1024, budget, rss / 1024 <= budget ? "within" : "OVER"
      printf "  minimal gen  %6.2f s  for %.0f faces%s\n", ref, ref_faces,
             ref_faces == faces ? ", the same count" : " (orolith-cli made a different count)"
      printf "  per face     orolith-cli %.1f ns, minimal generator %.1f ns: ratio %.2f\n",
             wall / faces * 1e9, ref / ref_faces * 1e9, (wall / faces) / (ref / ref_faces)
    }'
}

if [[ -f $shared/SRTM_3/N44W072.hgt ]]; then
  run_case "(a) N44W072, 1 x 1 degree, 90 m" "$shared" "$shared/SRTM_3/N44W072.hgt" \
    -72 -71 44 45 100 2000 100 20 90
else
  echo "(a) skipped: $shared/SRTM_3/N44W072.hgt not found"
fi

"$maker" --srtm1 "$work/srtm1" >/dev/null
run_case "(b) synthetic SRTM-1 tile, 30 m" "$work/srtm1" "$work/srtm1/SRTM_1/N46E007.hgt" \
  7 8 46 47 300 4000 100 20 30
