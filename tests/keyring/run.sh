#!/bin/sh
# Runs the keyring test against a private Secret Service: a session bus of its
# own that starts no service of the machine's, a GNOME Keyring daemon unlocked
# with a throwaway password, and temporary home and XDG folders, so the user's
# real keyring, settings and home are never touched.
# Usage: run.sh TEST_BINARY
set -eu

if [ "${1:-}" = "--inside" ]; then
  # On the private bus: start the keyring, wait for its name, run the test.
  test_binary=$2
  printf 'throwaway' | gnome-keyring-daemon --foreground --unlock --components=secrets >"$TMPDIR/daemon.log" 2>&1 &
  daemon=$!
  tries=0
  until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
          org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$daemon" 2>/dev/null; then
      echo "SKIP: the keyring daemon did not start on the private bus:"
      cat "$TMPDIR/daemon.log"
      kill "$daemon" 2>/dev/null || true
      exit 0
    fi
    sleep 0.1
  done
  status=0
  VESK_KEYRING=present "$test_binary" || status=$?
  kill "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
  exit "$status"
fi

test_binary=$1
for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is missing (scripts/setup.sh installs it)"
    exit 0
  fi
done

TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
mkdir -p "$TMPDIR/home" "$TMPDIR/data" "$TMPDIR/config" "$TMPDIR/cache" "$TMPDIR/run"
chmod 700 "$TMPDIR/run"
export HOME="$TMPDIR/home" XDG_DATA_HOME="$TMPDIR/data" XDG_CONFIG_HOME="$TMPDIR/config"
export XDG_CACHE_HOME="$TMPDIR/cache" XDG_RUNTIME_DIR="$TMPDIR/run" VESK_KEYRING_ROOT="$TMPDIR"
# No desktop: the keyring library then goes straight to the Secret Service.
unset XDG_CURRENT_DESKTOP KDE_SESSION_VERSION DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID GNOME_KEYRING_CONTROL || true

# A session bus with no service files: nothing is started behind the test's back.
cat >"$TMPDIR/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$TMPDIR/run</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF

# First without any keyring on the bus, then with one.
VESK_KEYRING=absent dbus-run-session --config-file="$TMPDIR/bus.conf" -- "$test_binary"
dbus-run-session --config-file="$TMPDIR/bus.conf" -- sh "$0" --inside "$test_binary"
