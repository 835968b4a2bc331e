#!/usr/bin/env bash
# The client's command line: --help and --version answer with no display and
# no platform plugin at all; on a screen (offscreen here) the options are read
# too, and an unknown one is an error.
# Usage: command_line.sh path/to/vesk-chat version
set -uo pipefail
client="$1"
version="${2//./\\.}"
failures=0

# check SCREEN STATUS PATTERN ARGS...: runs the client with no display at all
# (SCREEN none) or on the offscreen platform, and expects the exit status and
# a line of its output matching the extended regular expression.
check() {
  local screen="$1" status="$2" pattern="$3"
  shift 3
  local run=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
  [ "$screen" = offscreen ] && run+=(QT_QPA_PLATFORM=offscreen)
  local output actual
  # The time limit only stops a client that opened its window instead of answering.
  output="$(timeout 30 "${run[@]}" "$client" "$@" 2>&1)"
  actual=$?
  if [ "$actual" -ne "$status" ] || ! grep -Eq -- "$pattern" <<<"$output"; then
    echo "FAIL [$screen] vesk-chat $*: exit status $actual, expected $status and a line matching /$pattern/; output:"
    echo "$output"
    failures=$((failures + 1))
  fi
}

check none      0 '^Usage: .*vesk-chat \[options\]$' --help
check none      0 '^  -v, --version +Displays version information\.$' -h
check none      0 "^vesk-chat $version\$" --version
check none      0 "^vesk-chat $version\$" -v
check offscreen 0 '^Usage: .*vesk-chat \[options\]$' --help
check offscreen 0 "^vesk-chat $version\$" -style fusion --version
# Qt's own single-dash options are not read as bundles of letters (-reverse
# holds a v) and are taken by Qt; what is left and unknown is refused.
check offscreen 1 "Unknown option 'bogus'\.$" -reverse --bogus

echo "command line: $failures failed"
[ "$failures" -eq 0 ]
