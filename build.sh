#!/usr/bin/env bash
# Orolith's build steps: ./build.sh STEP... with STEP one of
#   deps   install the Debian packages the build, the tests and the demo need (as root or via sudo),
#          and the locales the tests read dates and numbers in
#   build  optimised build in build/release
#   test   optimised build and every test, then the sanitizer build of all but the window (clang
#          14, address and undefined-behaviour sanitizers, in build/sanitize) and its unit tests
#   demo   optimised build, a demo data root in demo/, and a model made from it
#   bench  optimised build and the benchmarks (figures in the README); HMM=DIR puts hmm's
#          sources (a folder or a git folder) beside the adaptive mesher
#   fuzz   the sanitizer build's fuzz targets, each run for FUZZ_SECONDS (default 30)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6opengl6-dev libgl-dev
  libcurl4-openssl-dev libcli11-dev libgtest-dev libgdal-dev libdeflate-dev zlib1g-dev libisal-dev
  lib3mf-dev libarchive-tools p7zip-full
  zip python3 admesh time fonts-dejavu-core locales clang-14 libclang-rt-14-dev ca-certificates
  openssl xvfb xauth libgl1-mesa-dri xdotool xclip x11-utils openbox imagemagick
  desktop-file-utils)
# The dates and decimal separators the tests read in other locales than C.
locales=(de_DE en_US)
jobs=$(nproc)

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

configure_and_build() { # folder, build type, extra cmake options...
  local dir=$1 type=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DOROLITH_WERROR=ON \
    -DOROLITH_UNITY_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() { # folder, extra ctest options...
  local dir=$1
  shift
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 "$@"
}

step_deps() {
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${packages[@]}"
  local locale
  for locale in "${locales[@]}"; do
    locale -a | grep -qx "$locale.utf8" || as_root localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
  done
}

step_build() { configure_and_build build/release Release; }

# The core's unit tests and the fuzz targets in one clang build: everything with the address and
# undefined-behaviour sanitizers, the libraries the fuzz targets use also with libFuzzer's
# coverage (libclang-rt-14-dev); no window (its tests run in the optimised build), no
# benchmarks, no tools.
build_sanitized() {
  configure_and_build build/sanitize Debug -DCMAKE_CXX_COMPILER=clang++-14 -DOROLITH_SANITIZE=ON \
    -DOROLITH_FUZZ=ON -DOROLITH_GUI=OFF -DOROLITH_BENCH=OFF -DOROLITH_TOOLS=OFF
}

step_test() {
  configure_and_build build/release Release
  run_tests build/release
  build_sanitized
  # The end-to-end cases on real tiles run once, in the optimised build.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
    run_tests build/sanitize --label-exclude end-to-end
}

step_demo() {
  configure_and_build build/release Release
  build/release/tools/make_demo_data demo
  (cd demo && ../build/release/src/orolith-cli create --data-root . --lon 7.2 7.8 --lat 46.2 46.8 \
    --elev 400 4000 --x-extent 150 --z-extent 30 --base 10 --pixel 100 --out demo.stl --yes)
  echo "STL model: $PWD/demo/demo.stl ($(stat -c %s demo/demo.stl) bytes)"
}

# The fuzz targets run side by side, sharing the cores; their logs are shown once all have ended.
step_fuzz() {
  local seconds=${FUZZ_SECONDS:-30} target failed=0 fuzz=build/sanitize/tests/fuzz
  build_sanitized
  # Seeds beside the corpus, read and never written to; a Copernicus tile has 3600 rows, and
  # its smallest file some 30 kB.
  "$fuzz/fuzz_copernicus_seeds" build/sanitize/seeds/copernicus
  local -A maxLength=([tile]=4096 [number]=4096 [copernicus]=65536) pids=()
  for target in tile number copernicus; do
    mkdir -p "build/sanitize/corpus/$target" "build/sanitize/seeds/$target"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="${maxLength[$target]}" \
      -print_final_stats=1 "build/sanitize/corpus/$target" "build/sanitize/seeds/$target" \
      >"build/sanitize/fuzz_$target.log" 2>&1 &
    pids[$target]=$!
  done
  for target in tile number copernicus; do
    wait "${pids[$target]}" || failed=1
  done
  for target in tile number copernicus; do
    echo "fuzz_$target: ${seconds} s"
    cat "build/sanitize/fuzz_$target.log"
  done
  return "$failed"
}

step_bench() {
  configure_and_build build/release Release
  build/release/bench/foundation_bench
  build/release/bench/threemf_bench
  bench/cli_bench.sh build/release
  bench/adaptive_bench.sh build/release "${HMM:-}"
}

[[ $# -gt 0 ]] || { sed -n '2,11p' "$0"; exit 2; }
for step in "$@"; do
  case $step in
    deps | build | test | demo | bench | fuzz) "step_$step" ;;
    *) echo "build.sh: unknown step '$step'" >&2; exit 2 ;;
  esac
done
