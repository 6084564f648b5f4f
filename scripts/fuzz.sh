#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) into build/fuzz and runs
# each for a while on a scratch copy of its seed corpus: the bitmap reader
# (fuzz_dib), the WAV reader (fuzz_wav) and the settings file read at
# start-up followed by a display start (fuzz_settings, offscreen), 30
# seconds each, or the number of seconds given as the first argument. Exits
# non-zero when a target crashes; the input that did it is kept in
# build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}

CC=clang CXX=clang++ cmake -S fuzz -B build/fuzz -G Ninja >/dev/null
cmake --build build/fuzz -j "$(nproc)"

mkdir -p build/fuzz/artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export QT_QPA_PLATFORM=offscreen
# The font libraries under Qt keep caches for the life of the process.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp"

for target in dib wav settings; do
    echo "== fuzz_$target for ${seconds}s"
    cp -r "fuzz/corpus/$target" "$work/$target"
    build/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/artifacts/ "$work/$target"
done
