#!/usr/bin/env bash
# Rewrites every .cpp/.h of the product folders and of tests/, bench/ and fuzz/
# in the style of .clang-format (the style scripts/lint.sh checks), or only
# the files given as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$clang_format" ]; then
    echo "format.sh: clang-format not found (scripts/setup.sh installs it)" >&2
    exit 2
fi
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(find app dialogs display analysis audio graphics settings platform \
                              tests bench fuzz -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)
fi
"$clang_format" -i "${files[@]}"
