#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test headless:
# a short fuzzing run of the receive path first, then the unit, window,
# end-to-end and gateway tests through CTest, whose summary closes the output.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=ON -DVESK_BUILD_BENCH=ON

export QT_QPA_PLATFORM=offscreen
bash "$root/fuzz/run.sh" "${VESK_FUZZ_SECONDS:-20}"

ctest --test-dir "$build" --output-on-failure -j 2
