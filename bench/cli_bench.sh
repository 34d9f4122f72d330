#!/usr/bin/env bash
# End-to-end speed and memory of `orolith-cli create`:
#   (a) a 1 x 1 degree region over the real SRTM-3 tile N44W072 at 90 m cells (about 5 M faces)
#   (b) a full synthetic SRTM-1 tile at 30 m cells (about 44 M faces, 2.2 GB)
#   (c) a 2 x 2 degree region of synthetic SRTM-1 tiles at 30 m cells (about 178 M faces, 8.9 GB)
# Each case runs RUNS times (default 5; case (c) 1, CLI_BENCH_RUNS_C), each run taking turns
# with one `dd` writing the same number of bytes and, for (a) and (b), bench/minimal_generator
# making the same model; the medians are shown side by side, with the time a face takes in
# orolith-cli and in the minimal generator, their ratio against its limit, and orolith-cli's
# peak resident memory against its budget: one tile's grid plus 96 MB.
# Then (a) as a surface and as a closed solid (--solid), CLI_BENCH_SOLID_RUNS times each (default 11),
# the two taking turns: the medians side by side in wall time and in processor time (user +
# system, which a busy machine disturbs less), and their ratio against the solid's limit, 1.05.
# Then (a) and (b) as binary STL and as 3MF from the same seed, CLI_BENCH_3MF_RUNS times each
# (default 3), taking turns: medians of wall and processor time, the files' bytes and peak
# memory, and the package against its limits: 30 % of the STL's bytes and 3 x its wall time.
#
#   bench/cli_bench.sh [BUILD_DIR]     (default build/release; needs src/orolith-cli,
#                                       bench/minimal_generator and tools/make_demo_data built there)
#   CLI_BENCH_RUNS=N, CLI_BENCH_RUNS_C=N   runs of (a) and (b), and of (c); 0 skips a case
#   CLI_BENCH_SOLID_RUNS=N                 runs of each of the surface and the solid
#   CLI_BENCH_3MF_RUNS=N                   runs of each of the STL and the 3MF
# The models go to a temporary folder (TMPDIR) that is removed at the end; (c) needs 9 GB there.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
cli=$build/src/orolith-cli
maker=$build/tools/make_demo_data
reference=$build/bench/minimal_generator
shared=${OROLITH_SHARED_DATA:-$here/../../shared/data}
runs=${CLI_BENCH_RUNS:-5}
runs_c=${CLI_BENCH_RUNS_C:-1}
runs_solid=${CLI_BENCH_SOLID_RUNS:-11}
runs_3mf=${CLI_BENCH_3MF_RUNS:-3}
for program in "$cli" "$maker" "$reference"; do
  [[ -x $program ]] || { echo "cli_bench: $program is not built" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "cli_bench: /usr/bin/time is needed for the peak memory" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orolith-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The median of column C of a results file.
column_median() { awk -v c="$1" '{ print $c }' "$2" | median; }

# run_case NAME RUNS LIMIT DATA_ROOT GRID_TILE REFERENCE_TILE LON_MIN LON_MAX LAT_MIN LAT_MAX
#          ELEV_MIN ELEV_MAX X_EXTENT Z_EXTENT PIXEL
# GRID_TILE is a tile of the region's kind, whose size is the grid the memory budget allows
# for; REFERENCE_TILE is the one tile the minimal generator reads, or - for none (LIMIT then -).
run_case() {
  local name=$1 count=$2 limit=$3 root=$4 grid_tile=$5 tile=$6
  shift 6
  local lon=("$1" "$2") lat=("$3" "$4") elev=("$5" "$6") xext=$7 zext=$8 pixel=$9
  local stl=$work/model.stl results=$work/results
  [[ $count -gt 0 ]] || { echo "$name: skipped"; return; }
  : >"$results"
  local i
  for ((i = 0; i < count; i++)); do
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

    local ref_time=- ref_faces=-
    if [[ $tile != - ]]; then
      local ref_start=$EPOCHREALTIME
      "$reference" "$tile" "$work/reference.stl" "${lon[@]}" "${lat[@]}" "${elev[@]}" "$xext" \
        "$zext" 0 "$pixel" >"$work/reference.log"
      ref_time=$(seconds "$ref_start" "$EPOCHREALTIME")
      ref_faces=$(sed -n 's/^\([0-9]*\) faces written to .*/\1/p' "$work/reference.log")
      rm -f "$work/reference.stl"
      sync
    fi
    echo "$wall $(seconds "$start" "$saving") $(seconds "$saving" "$saved") $rss $dd_time" \
      "$ref_time $faces $bytes $ref_faces" >>"$results"
  done

  local m=()
  for i in 1 2 3 4 5 6 7 8 9; do
    m[i]=-
    if [[ $tile != - ]] || [[ $i != 6 && $i != 9 ]]; then m[i]=$(column_median "$i" "$results"); fi
  done
  awk -v name="$name" -v runs="$count" -v limit="$limit" -v grid="$(stat -c %s "$grid_tile")" \
    -v wall="${m[1]}" -v gen="${m[2]}" -v save="${m[3]}" -v rss="${m[4]}" -v dd="${m[5]}" \
    -v ref="${m[6]}" -v faces="${m[7]}" -v bytes="${m[8]}" -v ref_faces="${m[9]}" \
    -v rss_max="$(awk '$4 > m { m = $4 } END { print m }' "$results")" \
    -v walls="$(awk '{ printf " %s", $1 }' "$results")" 'BEGIN {
      budget = grid / 1048576 + 96
      printf "%s: %.0f faces, %.1f MB file, medians of %d run%s\n", name, faces, bytes / 1e6, runs,
             runs == 1 ? "" : "s"
      printf "  orolith-cli  %7.2f s  (generation %.2f s, saving %.2f s)  %5.2f M faces/s\n",
             wall, gen, save, faces / wall / 1e6
      printf "               runs:%s\n", walls
      printf "  dd           %7.2f s  for the same %.0f bytes\n", dd, bytes
      if (ref != "-") {
        printf "  minimal gen  %7.2f s  for %.0f faces%s\n", ref, ref_faces,
               ref_faces == faces ? ", the same count" : " (orolith-cli made a different count)"
        ratio = (wall / faces) / (ref / ref_faces)
        printf "  per face     orolith-cli %.1f ns, minimal generator %.1f ns: ratio %.2f", \
               wall / faces * 1e9, ref / ref_faces * 1e9, ratio
        printf " (limit %s)  %s\n", limit, ratio <= limit ? "within" : "OVER"
      }
      printf "  peak RSS     %7.0f MB  (highest %.0f MB; budget: one tile grid %.1f MB + 96 MB", \
             rss / 1024, rss_max / 1024, grid / 1048576
      printf " = %.0f MB)  %s\n", budget, rss_max / 1024 <= budget ? "within" : "OVER"
    }'
}

if [[ -f $shared/SRTM_3/N44W072.hgt ]]; then
  run_case "(a) N44W072, 1 x 1 degree, 90 m" "$runs" 1.5 "$shared" "$shared/SRTM_3/N44W072.hgt" \
    "$shared/SRTM_3/N44W072.hgt" -72 -71 44 45 100 2000 100 20 90
else
  echo "(a) skipped: $shared/SRTM_3/N44W072.hgt not found"
fi

# solid_vs_surface NAME RUNS DATA_ROOT CREATE_OPTIONS...
solid_vs_surface() {
  local name=$1 count=$2 root=$3
  shift 3
  [[ $count -gt 0 ]] || { echo "$name: skipped"; return; }
  local results=$work/solid_results i variant
  : >"$results"
  for ((i = 0; i < count; i++)); do
    for variant in surface solid; do
      local extra=()
      [[ $variant == solid ]] && extra=(--solid)
      sync
      # The shell's own timing: milliseconds, where /usr/bin/time gives hundredths.
      local TIMEFORMAT='%3R %3U %3S'
      { time "$cli" create --data-root "$root" "$@" "${extra[@]}" --yes -o "$work/model.stl" \
        >"$work/log"; } 2>"$work/time"
      local wall user system faces
      read -r wall user system <"$work/time"
      faces=$(sed -n 's/^\([0-9]*\) Faces created, now saving to .*/\1/p' "$work/log")
      rm -f "$work/model.stl"
      echo "$variant $wall $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $faces" \
        >>"$results"
    done
  done
  # The median of column C over the runs of one variant.
  variant_median() { awk -v v="$1" -v c="$2" '$1 == v { print $c }' "$results" | median; }
  awk -v name="$name" -v runs="$count" \
    -v wa="$(variant_median surface 2)" -v ca="$(variant_median surface 3)" \
    -v fa="$(variant_median surface 4)" -v wb="$(variant_median solid 2)" \
    -v cb="$(variant_median solid 3)" -v fb="$(variant_median solid 4)" 'BEGIN {
      printf "%s: surface and closed solid taking turns, medians of %d runs each\n", name, runs
      printf "  surface      %7.3f s wall  %7.3f s processor  %.0f faces\n", wa, ca, fa
      printf "  --solid      %7.3f s wall  %7.3f s processor  %.0f faces (+%.0f)\n", wb, cb, fb,
             fb - fa
      printf "  ratio        %7.3f wall    %7.3f processor (limit 1.05)  %s\n", wb / wa, cb / ca,
             wb / wa <= 1.05 ? "within" : "OVER"
    }'
}

if [[ -f $shared/SRTM_3/N44W072.hgt ]]; then
  solid_vs_surface "(a) N44W072 with --solid" "$runs_solid" "$shared" --lon -72 -71 --lat 44 45 \
    --elev 100 2000 --x-extent 100 --z-extent 20 --pixel 90
fi

# stl_vs_3mf NAME RUNS DATA_ROOT CREATE_OPTIONS...
stl_vs_3mf() {
  local name=$1 count=$2 root=$3
  shift 3
  [[ $count -gt 0 ]] || { echo "$name: skipped"; return; }
  local results=$work/type_results i type
  : >"$results"
  for ((i = 0; i < count; i++)); do
    for type in stl 3mf; do
      sync
      local start=$EPOCHREALTIME user system rss
      /usr/bin/time -f '%U %S %M' -o "$work/time" "$cli" create --data-root "$root" "$@" \
        --seed 18 --yes -o "$work/model.$type" >/dev/null
      local wall
      wall=$(seconds "$start" "$EPOCHREALTIME")
      read -r user system rss <"$work/time"
      echo "$type $wall $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') $rss" \
        "$(stat -c %s "$work/model.$type")" >>"$results"
      rm -f "$work/model.$type"
    done
  done
  type_median() { awk -v t="$1" -v c="$2" '$1 == t { print $c }' "$results" | median; }
  awk -v name="$name" -v runs="$count" \
    -v wa="$(type_median stl 2)" -v ca="$(type_median stl 3)" -v ra="$(type_median stl 4)" \
    -v ba="$(type_median stl 5)" -v wb="$(type_median 3mf 2)" -v cb="$(type_median 3mf 3)" \
    -v rb="$(type_median 3mf 4)" -v bb="$(type_median 3mf 5)" 'BEGIN {
      printf "%s: binary STL and 3MF taking turns, medians of %d runs each\n", name, runs
      printf "  STL          %7.3f s wall  %7.3f s processor  %11.0f bytes  peak %4.0f MB\n", wa,
             ca, ba, ra / 1024
      printf "  3MF          %7.3f s wall  %7.3f s processor  %11.0f bytes  peak %4.0f MB\n", wb,
             cb, bb, rb / 1024
      printf "  3MF / STL    %7.2f wall (limit 3) %s  %7.2f processor  %.1f %% of the bytes" \
             " (limit 30 %%) %s\n", wb / wa, wb / wa <= 3 ? "within" : "OVER", cb / ca,
             100 * bb / ba, bb / ba <= 0.3 ? "within" : "OVER"
    }'
}

if [[ -f $shared/SRTM_3/N44W072.hgt ]]; then
  stl_vs_3mf "(a) N44W072 as STL and 3MF" "$runs_3mf" "$shared" --lon -72 -71 --lat 44 45 \
    --elev 100 2000 --x-extent 100 --z-extent 20 --pixel 90
fi

"$maker" --srtm1 "$work/srtm1" >/dev/null
run_case "(b) synthetic SRTM-1 tile, 30 m" "$runs" 2 "$work/srtm1" \
  "$work/srtm1/SRTM_1/N46E007.hgt" "$work/srtm1/SRTM_1/N46E007.hgt" 7 8 46 47 300 4000 100 20 30
stl_vs_3mf "(b) synthetic SRTM-1 tile as STL and 3MF" "$runs_3mf" "$work/srtm1" --lon 7 8 \
  --lat 46 47 --elev 300 4000 --x-extent 100 --z-extent 20 --pixel 30
rm -rf "$work/srtm1"

if [[ $runs_c -gt 0 ]]; then
  "$maker" --srtm1-2x2 "$work/block" >/dev/null
  run_case "(c) synthetic SRTM-1 tiles, 2 x 2 degree, 30 m" "$runs_c" - "$work/block" \
    "$work/block/SRTM_1/N46E007.hgt" - 7 9 46 48 300 4000 100 20 30
fi
