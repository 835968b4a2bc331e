#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, then fuzzes each for the given number of seconds
# (default 20): fuzz_link (the link alone), fuzz_reception (the whole main
# window) and fuzz_cluster_message (what one gateway receives from another).
# New inputs go to a scratch corpus per target; the seeds in fuzz/corpus and
# fuzz/corpus-cluster are only read. A crash leaves its input in the build folder and fails.
set -euo pipefail

seconds="${1:-20}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VESK_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${VESK_BUILD_JOBS:-2}"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESK_BUILD_FUZZ=ON -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
  >/dev/null
cmake --build "$build" --target fuzz_link fuzz_reception fuzz_cluster_message -j "$jobs"

cd "$build/fuzz"
export QT_QPA_PLATFORM=offscreen
# Settings, data and caches of the run go to a scratch folder, never the user's own.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" XDG_CACHE_HOME="$scratch/cache"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Qt keeps font and style caches for the life of the process, which the leak
# checker reports after almost every input; growth is caught by -rss_limit_mb.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
for target in fuzz_link fuzz_reception fuzz_cluster_message; do
  corpus="$build/fuzz/corpus-$target"
  mkdir -p "$corpus"
  seeds="$root/fuzz/corpus" dict="$root/fuzz/reception.dict"
  if [ "$target" = fuzz_cluster_message ]; then
    seeds="$root/fuzz/corpus-cluster" dict="$root/fuzz/cluster_message.dict"
  fi
  echo "== $target"
  ./"$target" \
    -max_total_time="$seconds" \
    -max_len=8192 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -print_final_stats=1 \
    -dict="$dict" \
    "$corpus" "$seeds"
done
