#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test headless:
# a short fuzzing run of the receive path first (its progress goes to a log
# file, its result to one line), then the unit, window, end-to-end, gateway and
# install tests through CTest, whose summary closes the output.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=ON -DVESK_BUILD_BENCH=ON

export QT_QPA_PLATFORM=offscreen
seconds="${VESK_FUZZ_SECONDS:-20}"
fuzz_log="$build/fuzz.log"
echo "Fuzzing the receive paths for $seconds s per target (building the targets first); progress in $fuzz_log"
if bash "$root/fuzz/run.sh" "$seconds" >"$fuzz_log" 2>&1; then
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz_log" | paste -sd/ -)"
  echo "Fuzzing: passed, ${runs:-an unknown number of} inputs (link alone/whole window/cluster message) in $seconds s each without a crash."
else
  echo "Fuzzing: FAILED; the end of $fuzz_log:" >&2
  tail -n 30 "$fuzz_log" >&2
  exit 1
fi

ctest --test-dir "$build" --output-on-failure -j 2
