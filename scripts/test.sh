#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test headless:
# the unit, window, end-to-end and gateway tests, then a short fuzzing run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=ON -DVESK_BUILD_BENCH=ON

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j 2

