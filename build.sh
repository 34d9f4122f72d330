#!/usr/bin/env bash
# Orolith's build steps: ./build.sh STEP... with STEP one of
#   deps   install the Debian packages the build, the tests and the demo need (as root or via sudo)
#   build  optimised build in build/release
#   test   optimised build and tests, then a debug build with address and undefined-behaviour
#          sanitizers and the same tests
#   demo   optimised build, a demo data root in demo/, and a model made from it
#   bench  optimised build and the benchmarks (figures in the README); HMM=DIR puts hmm's
#          sources (a folder or a git folder) beside the adaptive mesher
#   fuzz   clang build of the fuzz targets in build/fuzz, each run for FUZZ_SECONDS (default 60)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6opengl6-dev libgl-dev
  libcurl4-openssl-dev libcli11-dev libgtest-dev libgdal-dev libdeflate-dev zlib1g-dev libisal-dev
  lib3mf-dev libarchive-tools p7zip-full
  zip python3 admesh time fonts-dejavu-core locales clang-14 libclang-rt-14-dev ca-certificates
  openssl xvfb xauth libgl1-mesa-dri xdotool xclip x11-utils openbox imagemagick)
jobs=$(nproc)

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

configure_and_build() { # folder, build type, extra cmake options...
  local dir=$1 type=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DOROLITH_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() { # folder
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$1" --output-on-failure -j "$jobs" --timeout 600
}

step_deps() {
  as_root apt-get update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y --no-install-recommends "${packages[@]}"
}

step_build() { configure_and_build build/release Release; }

step_test() {
  configure_and_build build/release Release
  run_tests build/release
  configure_and_build build/sanitize Debug -DOROLITH_SANITIZE=ON -DOROLITH_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
    run_tests build/sanitize
}

step_demo() {
  configure_and_build build/release Release
  build/release/tools/make_demo_data demo
  (cd demo && ../build/release/src/orolith-cli create --data-root . --lon 7.2 7.8 --lat 46.2 46.8 \
    --elev 400 4000 --x-extent 150 --z-extent 30 --base 10 --pixel 100 --out demo.stl --yes)
  echo "STL model: $PWD/demo/demo.stl ($(stat -c %s demo/demo.stl) bytes)"
}

# libFuzzer ships with clang's runtime (libclang-rt-14-dev); the targets and every library they
# use are built by clang with the sanitizers, apart from the g++ builds.
step_fuzz() {
  local seconds=${FUZZ_SECONDS:-60} target
  CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOROLITH_WERROR=ON -DOROLITH_FUZZ=ON -DOROLITH_TESTS=OFF -DOROLITH_BENCH=OFF \
    -DOROLITH_GUI=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs" --target fuzz_tile fuzz_number fuzz_copernicus \
    fuzz_copernicus_seeds
  # Seeds beside the corpus, read and never written to; a Copernicus tile has 3600 rows, and
  # its smallest file some 30 kB.
  build/fuzz/tests/fuzz/fuzz_copernicus_seeds build/fuzz/seeds/copernicus
  local -A maxLength=([tile]=4096 [number]=4096 [copernicus]=65536)
  for target in tile number copernicus; do
    mkdir -p "build/fuzz/corpus/$target" "build/fuzz/seeds/$target"
    echo "fuzz_$target: ${seconds} s"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" \
      -max_len="${maxLength[$target]}" -print_final_stats=1 "build/fuzz/corpus/$target" \
      "build/fuzz/seeds/$target"
  done
}

step_bench() {
  configure_and_build build/release Release
  build/release/bench/foundation_bench
  build/release/bench/threemf_bench
  bench/cli_bench.sh build/release
  bench/adaptive_bench.sh build/release "${HMM:-}"
}

[[ $# -gt 0 ]] || { sed -n '2,10p' "$0"; exit 2; }
for step in "$@"; do
  case $step in
    deps | build | test | demo | bench | fuzz) "step_$step" ;;
    *) echo "build.sh: unknown step '$step'" >&2; exit 2 ;;
  esac
done
