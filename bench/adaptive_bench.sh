#!/usr/bin/env bash
# The adaptive mesher beside hmm (github.com/fogleman/hmm, greedy insertion into a Delaunay
# triangulation) on the same lattices, at height errors of 1, 2, 5 and 10 m:
#   (a) N44W072 (SRTM-3) at 90 m cells: 1113 x 1113 lattice points, band 0 .. 2000 m
#   (b) a synthetic SRTM-1 tile N46E007 (tools/make_demo_data --srtm1) at 30 m: 3335 x 3335,
#       band 0 .. 4000 m
#   (c) S46W066 (SRTM-1, about 99 % sea) at 30 m: 3335 x 3335, band 0 .. 200 m
# Each lattice is the model's (z extent 20, no pedestal, which change no triangle), written as a
# 16-bit greyscale PNG whose white level is the z extent; both programs mesh that PNG's heights
# (bench/adaptive_bench --quantized), hmm with the error as a fraction of the white level.
# The two take turns, RUNS times each; the medians go side by side: triangles, wall time
# (orolith: meshing with two threads, the lattice in memory as hmm has its image; hmm: its own
# "triangulating" step, and its whole run), processor time (orolith's threads together, hmm's
# whole run: on a machine that others share, the system splits the processors between sessions,
# and then the wall time of two threads tells less than it does on a quiet machine), the
# ratios against the limits (triangles at most hmm's, time at most a third of hmm's), and the
# load average before and after; then one more orolith run that works its heights out
# of the tile block by block, as the model will, checks every lattice point against the
# surface (worst error in metres, faults: uncovered, overlapped or misoriented) and gives its
# peak resident memory beside hmm's.
#
#   bench/adaptive_bench.sh [BUILD_DIR [HMM]]   (default build/release; needs bench/adaptive_bench
#                                                and tools/make_demo_data built there)
#   HMM: hmm's sources, a folder with its Makefile or a git folder (a mirror without a work
#        tree); they are copied into a temporary folder and built there with hmm's release
#        flags (needs libglm-dev). Without it hmm's columns stay empty.
#   ADAPTIVE_BENCH_RUNS=N       runs of each error on (a) (default 5)
#   ADAPTIVE_BENCH_RUNS_30M=N   runs of each error on (b) and (c) (default 3); 0 skips them
#   ADAPTIVE_BENCH_ERRORS="..." the errors in metres (default "1 2 5 10")
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
hmm_source=${2:-}
bench=$build/bench/adaptive_bench
maker=$build/tools/make_demo_data
shared=${OROLITH_SHARED_DATA:-$here/../../shared/data}
runs=${ADAPTIVE_BENCH_RUNS:-5}
runs_30m=${ADAPTIVE_BENCH_RUNS_30M:-3}
errors=${ADAPTIVE_BENCH_ERRORS:-1 2 5 10}
for program in "$bench" "$maker"; do
  [[ -x $program ]] || { echo "adaptive_bench: $program is not built" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "adaptive_bench: /usr/bin/time is needed for hmm's memory" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orolith-adaptive.XXXXXX")
trap 'rm -rf "$work"' EXIT

hmm=
if [[ -n $hmm_source ]]; then
  mkdir "$work/hmm"
  if [[ -f $hmm_source/Makefile ]]; then
    cp -R "$hmm_source/." "$work/hmm"
  else
    git --git-dir="$hmm_source" archive HEAD | tar -x -C "$work/hmm"
  fi
  make -C "$work/hmm" release >"$work/hmm-build.log" 2>&1 ||
    { cat "$work/hmm-build.log" >&2; echo "adaptive_bench: hmm did not build" >&2; exit 2; }
  hmm=$work/hmm/bin/release/hmm
  echo "hmm built from $hmm_source ($(git --git-dir="$hmm_source" rev-parse --short HEAD 2>/dev/null ||
    echo 'a folder')) with its release flags"
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# field NAME LINE: the value after NAME in a line of adaptive_bench's
field() { awk -v n="$1" '{ for (i = 1; i < NF; i++) if ($i == n) { print $(i + 1); exit } }' <<<"$2"; }

# run_case NAME RUNS TILE LON_MIN LON_MAX LAT_MIN LAT_MAX ELEV_MIN ELEV_MAX PIXEL
run_case() {
  local name=$1 count=$2 tile=$3
  shift 3
  local region=("$1" "$2" "$3" "$4" "$5" "$6" 20 "$7") span=$(awk -v a="$5" -v b="$6" 'BEGIN { print b - a }')
  [[ $count -gt 0 ]] || { echo "$name: skipped"; return; }
  [[ -f $tile ]] || { echo "$name: skipped, $tile not found"; return; }
  local png=$work/lattice.png lattice
  lattice=$("$bench" "$tile" "${region[@]}" --png "$png" | sed -n 's/^lattice //p')
  echo
  echo "$name: lattice $lattice, band $5 .. $6 m, medians of $count runs"
  printf '  %5s | %10s %8s %6s | %10s %8s %8s %6s | %6s %6s | %8s %6s | %7s %7s\n' "error" "orolith" \
    "time s" "cpu s" "hmm" "time s" "whole s" "cpu s" "tri" "time" "worst m" "faults" "peak MB" "hmm MB"
  local error
  for error in $errors; do
    local results=$work/results i
    : >"$results"
    for ((i = 0; i < count; i++)); do
      local line ours_t ours_s ours_c hmm_t=- hmm_s=- hmm_w=- hmm_m=- hmm_u=- hmm_y=-
      line=$("$bench" "$tile" "${region[@]}" --quantized --threads 2 --error "$error" | grep '^error ')
      ours_t=$(field triangles "$line")
      ours_s=$(field seconds "$line")
      ours_c=$(field cpu "$line")
      if [[ -n $hmm ]]; then
        local fraction
        fraction=$(awk -v e="$error" -v s="$span" 'BEGIN { printf "%.9g", e / s }')
        /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$hmm" "$png" "$work/hmm.stl" -z 1 -e "$fraction" \
          >"$work/hmm.log"
        hmm_t=$(sed -n 's/^  triangles = //p' "$work/hmm.log")
        hmm_s=$(sed -n 's/^triangulating\.\.\. \([0-9.e-]*\)s$/\1/p' "$work/hmm.log")
        read -r hmm_w hmm_m hmm_u hmm_y <"$work/time"
        hmm_u=$(awk -v u="$hmm_u" -v y="$hmm_y" 'BEGIN { print u + y }')
        rm -f "$work/hmm.stl"
      fi
      echo "$ours_t $ours_s $hmm_t $hmm_s $hmm_w $hmm_m $ours_c $hmm_u" >>"$results"
    done
    local m=() k
    for k in 1 2 3 4 5 6 7 8; do
      m[k]=-
      if [[ -n $hmm ]] || [[ $k -le 2 ]] || [[ $k -eq 7 ]]; then m[k]=$(awk -v c="$k" '{ print $c }' "$results" | median); fi
    done
    # The check, and the memory of a run that keeps only blocks of heights.
    local checked peak
    checked=$("$bench" "$tile" "${region[@]}" --from-tile --threads 2 --error "$error" --check)
    peak=$(field peak_kb "$(grep '^peak_kb' <<<"$checked")")
    checked=$(grep '^error ' <<<"$checked")
    awk -v e="$error" -v ot="${m[1]}" -v os="${m[2]}" -v ht="${m[3]}" -v hs="${m[4]}" -v hw="${m[5]}" \
      -v hm="${m[6]}" -v oc="${m[7]}" -v hc="${m[8]}" -v worst="$(field worst "$checked")" -v faults="$(field faults "$checked")" \
      -v peak="$peak" 'BEGIN {
        tri = ht == "-" ? "-" : sprintf("%.3f", ot / ht)
        tim = hs == "-" ? "-" : sprintf("%.3f", os / hs)
        verdict = ht == "-" ? "" : ((ot <= ht ? "" : "  TRIANGLES OVER") (os <= hs / 3 ? "" : "  TIME OVER"))
        printf "  %4s m | %10d %8.3f %6.2f | %10s %8s %8s %6s | %6s %6s | %8.4f %6d | %7.0f %7s%s\n", e,
               ot, os, oc, ht, hs, hw, hc, tri, tim, worst, faults, peak / 1024,
               hm == "-" ? "-" : sprintf("%.0f", hm / 1024), verdict
      }'
  done
}

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) processors)"
run_case "(a) N44W072, 1 x 1 degree, 90 m" "$runs" "$shared/SRTM_3/N44W072.hgt" -72 -71 44 45 0 2000 90
if [[ $runs_30m -gt 0 ]]; then
  "$maker" --srtm1 "$work/srtm1" >/dev/null
  run_case "(b) synthetic SRTM-1 tile N46E007, 30 m" "$runs_30m" "$work/srtm1/SRTM_1/N46E007.hgt" 7 8 46 47 \
    0 4000 30
  rm -rf "$work/srtm1"
  run_case "(c) S46W066, SRTM-1, mostly sea, 30 m" "$runs_30m" "$shared/SRTM_1/S46W066.hgt" -66 -65 -46 -45 \
    0 200 30
fi
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cpu s: orolith's meshing threads together; hmm's whole run (user and system)"
echo "ratios: orolith over hmm, triangles (limit 1) and time (limit 0.333: orolith's meshing against hmm's triangulating step)"
