#!/usr/bin/env bash
# Builds Vesk Chat and starts it against the local chat gateway on
# 127.0.0.1:6112. The gateway is started first unless one already listens
# there, and it is stopped again when the client ends.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VESK_BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh" -DVESK_BUILD_TESTS=OFF -DVESK_BUILD_BENCH=OFF

gateway_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$gateway_pid" ] && kill "$gateway_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if (exec 3<>/dev/tcp/127.0.0.1/6112) 2>/dev/null; then
  echo "A chat gateway already listens on 127.0.0.1:6112; using it."
else
  "$build/bin/vesk-gateway" &
  gateway_pid=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/6112) 2>/dev/null && break
    sleep 0.1
  done
fi

# Without a desktop session the client still starts, on a virtual screen.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export DISPLAY=:99
  Xvfb :99 -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  echo "No display found: Vesk Chat runs on the virtual screen $DISPLAY (Xvfb)."
fi

"$build/bin/vesk-chat" "$@"
