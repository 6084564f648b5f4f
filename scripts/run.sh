#!/usr/bin/env bash
# Sets up a Debian 12 machine if needed, builds Vexlor and runs it with the
# given arguments (none: the settings dialog; /s the screen saver;
# /p <window id> the preview).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release >&2
exec build/release/app/vexlor "$@"
