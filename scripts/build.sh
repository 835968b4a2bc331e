#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into build/,
# showing cmake's progress as it goes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/setup.sh"
echo "Configuring into $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
echo "Building (${VESK_BUILD_JOBS:-$(nproc)} jobs)"
cmake --build "$build" -j "${VESK_BUILD_JOBS:-$(nproc)}"
