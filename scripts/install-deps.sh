#!/usr/bin/env bash
# Installs what building, running and testing Velmora needs on Debian 12.
set -euo pipefail
packages=(
    cmake g++ make pkg-config clang-format
    qt6-base-dev qt6-translations-l10n libgl-dev
    libsqlite3-dev sqlite3 libsodium-dev
    libpq-dev postgresql
    mdbtools-dev
    libgtest-dev googletest
    fonts-wqy-microhei fonts-arphic-ukai fonts-arphic-uming
    xvfb xauth openbox xfwm4 dbus-daemon libx11-dev libxcb1-dev libxtst-dev
    dpkg-dev file lintian desktop-file-utils appstream fakeroot
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
