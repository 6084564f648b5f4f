#!/usr/bin/env bash
# Static checks, non-zero exit on any finding:
#   1. clang-format (style of .clang-format) over every .cpp/.h of the product
#      folders and of tests/, bench/ and fuzz/: a file that would change fails;
#      scripts/format.sh applies the changes.
#   2. clang-tidy with the checks .clang-tidy keeps, over the product sources,
#      with the flags of BUILD_DIR/compile_commands.json (build/release by
#      default; configured, and its generated Qt headers made, when missing).
# Usage: lint.sh [--format-only | --tidy-only] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

format_only=0
tidy_only=0
case "${1:-}" in
    --format-only) format_only=1; shift ;;
    --tidy-only) tidy_only=1; shift ;;
esac
build=${1:-build/release}

pick() { # the first of the named tools that exists
    for t in "$@"; do
        if command -v "$t" >/dev/null; then
            echo "$t"
            return
        fi
    done
    echo "lint.sh: none of $* found (scripts/setup.sh installs them)" >&2
    exit 2
}

product=(app dialogs display analysis audio graphics settings platform)
mapfile -t format_files < <(find "${product[@]}" tests bench fuzz -name '*.cpp' -o -name '*.h' |
                            LC_ALL=C sort)

if [ "$tidy_only" -eq 0 ]; then
clang_format=$(pick clang-format-14 clang-format)
format_status=0
format_log=$("$clang_format" --dry-run --Werror "${format_files[@]}" 2>&1) || format_status=$?
mapfile -t unformatted < <(echo "$format_log" |
    sed -n 's/^\([^ :]*\):[0-9]*:[0-9]*: error: .*clang-format-violations.*/\1/p' | uniq)
if [ "$format_status" -ne 0 ] && [ ${#unformatted[@]} -eq 0 ]; then
    echo "$format_log" >&2
    echo "lint.sh: clang-format failed (exit $format_status)" >&2
    exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
    printf '%s: not formatted (scripts/format.sh fixes it)\n' "${unformatted[@]}"
    echo "lint.sh: clang-format: ${#unformatted[@]} of ${#format_files[@]} files differ" >&2
    exit 1
fi
echo "lint.sh: clang-format: ${#format_files[@]} files formatted"
fi
[ "$format_only" -eq 1 ] && exit 0

clang_tidy=$(pick clang-tidy-14 clang-tidy)
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLOR_WERROR=ON >/dev/null
fi
# The sources include the forms' and the meta-object compiler's output.
autogen=$(ninja -C "$build" -t targets all | sed -n 's/^\(vexlor[a-z_]*_autogen\):.*/\1/p' | sort -u)
# shellcheck disable=SC2086
cmake --build "$build" --target $autogen >/dev/null

mapfile -t tidy_files < <(find "${product[@]}" -name '*.cpp' | LC_ALL=C sort)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Headers of the product folders are checked through the sources including them.
header_filter="^$PWD/($(IFS='|'; echo "${product[*]}"))/"
status=0
printf '%s\n' "${tidy_files[@]}" |
    xargs -P "$(nproc)" -n 4 "$clang_tidy" -p "$build" --quiet --header-filter="$header_filter" \
        >"$log" 2>/dev/null || status=$?
# A header's finding shows once per source including it: reported once.
findings=$(grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error):' "$log" | LC_ALL=C sort -u || true)
if [ -n "$findings" ]; then
    echo "$findings"
    echo "lint.sh: clang-tidy: $(echo "$findings" | wc -l) finding(s); by check:" >&2
    echo "$findings" | grep -o '\[[^]]*\]$' | LC_ALL=C sort | uniq -c | sort -rn >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    cat "$log"
    echo "lint.sh: clang-tidy failed (exit $status)" >&2
    exit 1
fi
echo "lint.sh: clang-tidy: ${#tidy_files[@]} sources clean"
