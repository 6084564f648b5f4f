#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed and runs every test: the layer
# check of the includes and the clang-format check (scripts/lint.sh runs
# clang-tidy too), the bitmap, WAV and settings readers' fuzzers for 30 seconds each,
# then the whole suite twice, in the optimised build with warnings as errors
# (followed by the Debian package's checks) and in the ASan + UBSan build.
# The end-to-end tests start their own PulseAudio server and X server.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

echo "== includes point down the layers"
./scripts/check_layers.sh

echo "== formatting (clang-format)"
./scripts/lint.sh --format-only

echo "== fuzzing the bitmap, WAV and settings readers (30 s each)"
./scripts/fuzz.sh 30

echo "== release build (warnings as errors)"
./scripts/build.sh release
ctest --test-dir build/release --timeout 300

echo "== the Debian package: lintian, apt install, Wayland, XScreenSaver"
./tests/package/check_package.sh

echo "== sanitizer build (ASan + UBSan)"
./scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --timeout 600
