#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the style check, the sanitizer build of
# the core tests, the fuzz targets, the optimised main build with its tests, the check that no two
# libraries define one symbol, and clang-tidy. Ends with how long each stage took.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
"$top/scripts/install-deps.sh" packages-build.txt packages-test.txt
jobs=$(nproc)

timings=()
stage_start=$SECONDS
stage_name=
stage() {
  [[ -n "$stage_name" ]] && timings+=("$(printf '%5ds  %s' $((SECONDS - stage_start)) "$stage_name")")
  stage_name=$1
  stage_start=$SECONDS
  [[ -n "$stage_name" ]] && echo "== $stage_name"
  return 0
}

stage "style"
"$top/scripts/check-format.sh"

stage "sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
"$top/scripts/build.sh" build/asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_GUI=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE gui

stage "fuzz targets"
"$top/scripts/build.sh" build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF \
  -DVELMORA_GUI=OFF -DCMAKE_CXX_COMPILER=clang++
"$top/scripts/run-fuzzers.sh" build/fuzz

# The main build is the optimised one a packager makes, so Release is known to compile and the
# tests run against the code users get; the sanitizer build above keeps the debug checks.
stage "main build (Release)"
"$top/scripts/build.sh" build/release -DCMAKE_BUILD_TYPE=Release
QT_QPA_PLATFORM=offscreen ctest --test-dir build/release --output-on-failure -j "$jobs"

stage "one definition of each symbol"
"$top/scripts/check-symbols.sh" build/release

stage "clang-tidy"
"$top/scripts/run-clang-tidy.sh" build/release

stage ""
echo "== time per stage"
printf '%s\n' "${timings[@]}"
