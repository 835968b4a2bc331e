#!/usr/bin/env bash
# Builds Vesk Chat and starts it against the local chat gateway on
# 127.0.0.1:6112. The gateway is started first unless one already listens
# there, and it is stopped again when the client ends. Without a desktop
# session the client runs on a virtual X screen (Xvfb) on a free display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF

gateway_pid=""
xvfb_pid=""
cleanup() {
  if [ -n "$gateway_pid" ]; then kill "$gateway_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

fail() {
  echo "run.sh: $1" >&2
  if [ -n "${2:-}" ] && [ -s "$2" ]; then
    echo "run.sh: last lines of $2:" >&2
    tail -n 5 "$2" >&2
  fi
  exit 1
}

gateway_listens() { (exec 3<>/dev/tcp/127.0.0.1/6112) 2>/dev/null; }

if gateway_listens; then
  echo "A chat gateway already listens on 127.0.0.1:6112; using it."
else
  gateway_log="$build/vesk-gateway.log"
  "$build/bin/vesk-gateway" 2>"$gateway_log" &
  gateway_pid=$!
  # Wait until it accepts connections, it exits, or 10 s have passed.
  for ((i = 0; ; i++)); do
    gateway_listens && break
    kill -0 "$gateway_pid" 2>/dev/null ||
      fail "the chat gateway exited before it listened on 127.0.0.1:6112." "$gateway_log"
    [ "$i" -lt 100 ] ||
      fail "the chat gateway did not listen on 127.0.0.1:6112 within 10 seconds." "$gateway_log"
    sleep 0.1
  done
  echo "Started the chat gateway on 127.0.0.1:6112 (its log: $gateway_log)."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  xvfb_log="$build/xvfb.log"
  exec {xvfb_fd}< <(exec Xvfb -displayfd 1 -screen 0 1600x1200x24 -nolisten tcp 2>"$xvfb_log")
  xvfb_pid=$!
  display_number=""
  read -r -t 15 -u "$xvfb_fd" display_number || true
  exec {xvfb_fd}<&-
  [ -n "$display_number" ] ||
    fail "no display found, and the virtual screen (Xvfb) did not come up: it exited, or named no display within 15 seconds." "$xvfb_log"
  export DISPLAY=":$display_number"
  echo "No display found: Vesk Chat runs on the virtual screen $DISPLAY (Xvfb)."
fi

"$build/bin/vesk-chat" "$@"
