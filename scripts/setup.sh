#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Vesk Chat need.
# Idempotent: packages already present are left alone; apt-get update runs once,
# and only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libbenchmark-dev clang-14 libclang-rt-14-dev
  xvfb xauth x11-utils fonts-dejavu-core
  desktop-file-utils appstream
  dbus-daemon
  qtkeychain-qt6-dev libsecret-1-0
  openssl libssl-dev libsodium-dev
  gnome-keyring dbus-bin libsecret-tools
  libnats-dev nats-server
  libhunspell-dev hunspell-en-us microsocks
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  # -n: never wait for a password (CI has no one to type it).
  if ! sudo -n true 2>/dev/null; then
    echo "setup.sh: these Debian packages are missing: ${missing[*]}" >&2
    echo "setup.sh: installing them needs root, and sudo cannot run without a password here." >&2
    echo "setup.sh: run 'sudo apt-get install ${missing[*]}' yourself, or run this script as root." >&2
    exit 1
  fi
  SUDO=(sudo -n)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
