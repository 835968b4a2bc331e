#!/usr/bin/env bash
# Starts a small chat network on this machine: one nats-server with JetStream
# and three gateways, gw1 to gw3, on 127.0.0.1, 127.0.0.2 and 127.0.0.3, port
# 6112 (with --first-port P: all on 127.0.0.1, ports P, P+1 and P+2), all
# joined through NATS. Clients connect to any of the three. Ctrl+C stops
# everything. Logs and the JetStream store go to a temporary folder.
#
#   scripts/cluster.sh [--nats-port PORT] [--first-port PORT] [--no-build]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"
nats_port=4222
first_port=""
do_build=1

while [ $# -gt 0 ]; do
  case "$1" in
    --nats-port) nats_port="$2"; shift 2 ;;
    --first-port) first_port="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "cluster.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

nats_server="$(command -v nats-server || true)"
[ -n "$nats_server" ] || nats_server=/usr/sbin/nats-server
[ -x "$nats_server" ] || { echo "cluster.sh: nats-server is missing; run scripts/setup.sh" >&2; exit 1; }

if [ "$do_build" = 1 ]; then
  bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF
fi

work="$(mktemp -d -t vesk-cluster.XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "Logs kept in $work"
}
trap cleanup EXIT INT TERM

listens() { (exec 3<>"/dev/tcp/$2/$1") 2>/dev/null; }
wait_for_port() { # port pid log [host]
  local host="${4:-127.0.0.1}"
  for ((i = 0; i < 100; i++)); do
    listens "$1" "$host" && return 0
    kill -0 "$2" 2>/dev/null || { echo "cluster.sh: exited early, see $3" >&2; tail -n 5 "$3" >&2; exit 1; }
    sleep 0.1
  done
  echo "cluster.sh: nothing listens on $host port $1 after 10 s, see $3" >&2
  exit 1
}

"$nats_server" -js -a 127.0.0.1 -p "$nats_port" -sd "$work/jetstream" >"$work/nats-server.log" 2>&1 &
pids+=($!)
wait_for_port "$nats_port" "${pids[-1]}" "$work/nats-server.log"
echo "nats-server with JetStream on nats://127.0.0.1:$nats_port"

where=()
for n in 1 2 3; do
  if [ -n "$first_port" ]; then host=127.0.0.1; port=$((first_port + n - 1)); else host="127.0.0.$n"; port=6112; fi
  log="$work/gw$n.log"
  "$build/bin/vesk-gateway" --cluster "nats://127.0.0.1:$nats_port" --node "gw$n" --listen "$host" \
    --port "$port" >"$log" 2>&1 &
  pids+=($!)
  wait_for_port "$port" "${pids[-1]}" "$log" "$host"
  echo "gateway gw$n on $host:$port (log: $log)"
  where+=("$host:$port")
done

echo "Cluster running; Ctrl+C stops it."
echo "To chat, point Vesk Chat (or any client of the gateway protocol) at any of: ${where[*]}"
echo "  for example: $build/bin/vesk-chat, then pick a server with one of these addresses"
wait -n "${pids[@]}" || true
echo "cluster.sh: a process of the cluster ended; stopping the rest." >&2
