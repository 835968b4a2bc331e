#!/usr/bin/env bash
# Builds Vesk Chat and starts it against the local chat gateway on
# 127.0.0.1:6112, and on 127.0.0.1:6113 over TLS with a self-signed
# certificate made in the build folder on first run. The gateway is started
# first unless one already listens there, and it is stopped again when the
# client ends. Without a desktop
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
tls_listens() { (exec 3<>/dev/tcp/127.0.0.1/6113) 2>/dev/null; }

if gateway_listens; then
  echo "A chat gateway already listens on 127.0.0.1:6112; using it."
else
  gateway_log="$build/vesk-gateway.log"
  # The certificate stays in the build folder, never in the repository.
  bash "$root/scripts/make-cert.sh" "$build" ||
    fail "could not make a certificate for the chat gateway's TLS port in $build."
  "$build/bin/vesk-gateway" --tls-cert "$build/gateway-cert.pem" --tls-key "$build/gateway-key.pem" \
    2>"$gateway_log" &
  gateway_pid=$!
  # Wait until it accepts connections on both ports, it exits, or 10 s have passed.
  for ((i = 0; ; i++)); do
    gateway_listens && tls_listens && break
    kill -0 "$gateway_pid" 2>/dev/null ||
      fail "the chat gateway exited before it listened on 127.0.0.1:6112 and 6113 (TLS)." "$gateway_log"
    [ "$i" -lt 100 ] ||
      fail "the chat gateway did not listen on 127.0.0.1:6112 and 6113 (TLS) within 10 seconds." "$gateway_log"
    sleep 0.1
  done
  echo "Started the chat gateway on 127.0.0.1:6112, and with TLS on 127.0.0.1:6113 (its log: $gateway_log)."
  echo "A secure connection can be tried with the server tls://127.0.0.1 (its certificate is self-signed: $build/gateway-cert.pem)."
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
