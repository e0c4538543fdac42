#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Snipewell need.
# Idempotent: only missing packages are installed, and the package lists are refreshed
# only when something has to be installed.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  qcoro-qt6-dev
  qt6-httpserver-dev qt6-websockets-dev
  qt6-webengine-dev libqt6svg6
  qt6-translations-l10n
  desktop-file-utils
  sqlite3
  tzdata faketime
  qtkeychain-qt6-dev gnome-keyring dbus
  fonts-noto-cjk
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
