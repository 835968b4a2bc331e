#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them; each prints its figures.
# "gateway [load|attacks]" runs only the gateway's benchmark; "secure" only the
# TLS session and password check benchmarks; "cluster" the clustered gateways'
# benchmark in its three modes (links, 150 users, paced cross-gateway input).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VESK_BENCH_BUILD_DIR:-$root/build-bench}"
jobs="${VESK_BUILD_JOBS:-2}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=ON -DVESK_BUILD_FUZZ=OFF >/dev/null
if [ "${1:-}" = gateway ]; then
  cmake --build "$build" --target gateway_bench -j "$jobs"
  "$build/bench/gateway_bench" "${@:2}"
  exit 0
fi
if [ "${1:-}" = secure ]; then
  cmake --build "$build" --target secure_tls_bench secure_accounts_bench -j "$jobs"
  "$build/bench/secure_tls_bench"
  "$build/bench/secure_accounts_bench"
  exit 0
fi
if [ "${1:-}" = cluster ]; then
  cmake --build "$build" --target cluster_link_bench -j "$jobs"
  "$build/bench/cluster_link_bench"
  "$build/bench/cluster_link_bench" --gateways
  "$build/bench/cluster_link_bench" --paced
  exit 0
fi
cmake --build "$build" --target flood_bench gateway_bench secure_tls_bench secure_accounts_bench -j "$jobs"
QT_QPA_PLATFORM=offscreen "$build/bench/flood_bench" "$@"
if [ $# -eq 0 ]; then
  "$build/bench/gateway_bench"
  "$build/bench/secure_tls_bench"
  "$build/bench/secure_accounts_bench"
fi
