#!/usr/bin/env bash
# Configures and builds one flavour of Vexlor into build/<flavour>.
#   release: optimised, warnings as errors (the default)
#   asan:    AddressSanitizer + UndefinedBehaviorSanitizer, warnings as errors
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
case "$flavour" in
    release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLOR_WERROR=ON) ;;
    asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DVEXLOR_WERROR=ON -DVEXLOR_SANITIZE=ON
                 -DVEXLOR_BENCHMARKS=OFF) ;;
    *) echo "build.sh: unknown flavour '$flavour' (release or asan)" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j "$(nproc)"
