#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed and runs every test: the bitmap
# reader's fuzzer for 60 seconds, then the whole suite twice, in the
# optimised build with warnings as errors and in the ASan + UBSan build.
# The end-to-end tests start their own PulseAudio server and X server.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

echo "== fuzzing the bitmap reader (60 s)"
./scripts/fuzz.sh 60

echo "== release build (warnings as errors)"
./scripts/build.sh release
ctest --test-dir build/release --timeout 300

echo "== sanitizer build (ASan + UBSan)"
./scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --timeout 600
