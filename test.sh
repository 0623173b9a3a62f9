#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the main build, the sanitizer build of the
# core tests, the style check and the fuzz targets. Ends with the CTest summary of the main build.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
"$top/scripts/install-deps.sh" packages-build.txt packages-test.txt
jobs=$(nproc)

echo "== style"
"$top/scripts/check-format.sh"

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
"$top/scripts/build.sh" build/asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_GUI=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE gui

echo "== fuzz targets"
"$top/scripts/build.sh" build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF \
  -DVELMORA_GUI=OFF -DCMAKE_CXX_COMPILER=clang++
"$top/scripts/run-fuzzers.sh" build/fuzz

echo "== main build"
"$top/scripts/build.sh" build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
QT_QPA_PLATFORM=offscreen ctest --test-dir build/release --output-on-failure -j "$jobs"
