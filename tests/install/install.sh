#!/usr/bin/env bash
# Installs the build into a temporary prefix the way a package build does,
# checks that every file lands where Debian and Flatpak expect it, that the
# installed client finds its list files there and prefers a user's own copy,
# and runs desktop-file-validate and appstreamcli on what was installed.
# Usage: install.sh BUILD_DIR
set -uo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

id=chat.vesk.VeskChat
expected=(
  bin/vesk-chat bin/vesk-gateway
  share/vesk-chat/Servers.txt share/vesk-chat/Channels.txt
  share/doc/vesk-chat/Readme.txt
  share/man/man1/vesk-chat.1 share/man/man1/vesk-gateway.1
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$id.svg"
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
# Nothing but the programs goes into bin/.
extra="$(find "$prefix/bin" -type f ! -name vesk-chat ! -name vesk-gateway)"
[ -z "$extra" ] || fail "unexpected files in bin/: $extra"

# Each PNG icon is as large as the folder it is in says (width and height
# are the big-endian words at bytes 16 and 20 of a PNG).
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || continue
  dims="$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')"
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

# The installed client, with no display, says where it reads each list file
# from. Rows: the folder holding an extra copy of Servers.txt (none, the
# per-user data folder, the program's own folder), then the folder each list
# is expected from.
user_data="$work/user-data"
system_lists="$prefix/share/vesk-chat"
check_lists() {
  local copy="$1" servers="$2" channels="$3"
  rm -rf "$user_data"
  mkdir -p "$user_data"
  rm -f "$prefix/bin/Servers.txt"
  case "$copy" in
    user) mkdir -p "$user_data/vesk-chat" && echo "chat.example.org" >"$user_data/vesk-chat/Servers.txt" ;;
    program) echo "chat.example.org" >"$prefix/bin/Servers.txt" ;;
  esac
  local output
  output="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    XDG_DATA_HOME="$user_data" XDG_DATA_DIRS="$prefix/share:/nonexistent" \
    "$prefix/bin/vesk-chat" --list-files 2>&1)" || fail "[$copy] vesk-chat --list-files failed: $output"
  local want
  want="$(printf 'Servers.txt: %s/Servers.txt\nChannels.txt: %s/Channels.txt' "$servers" "$channels")"
  [ "$output" = "$want" ] || fail "[$copy] the client reads its lists from:"$'\n'"$output"$'\n'"expected:"$'\n'"$want"
}
check_lists none "$system_lists" "$system_lists"
check_lists user "$user_data/vesk-chat" "$system_lists"
check_lists program "$prefix/bin" "$system_lists"
rm -f "$prefix/bin/Servers.txt"

desktop-file-validate "$prefix/share/applications/$id.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --pedantic --no-net "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "appstreamcli validate"
# The desktop entry's name is the metainfo's launchable.
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo does not launch $id.desktop"

echo "install: $failures failed"
[ "$failures" -eq 0 ]
