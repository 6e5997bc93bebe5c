#!/usr/bin/env bash
# Writes PNGs of the console's real windows into build/screenshots/, taken
# under a virtual display (Xvfb). Optional arguments name single shots.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh >/dev/null
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target console_screens
rm -rf build/screenshots
mkdir -p build/screenshots
xvfb-run -a -s "-screen 0 1600x1000x24" build/tests/console_screens build/screenshots "$@"
