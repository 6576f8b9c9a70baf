#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the program need.
# Only what is missing is installed, so a second run costs a dpkg query and nothing more.
set -euo pipefail

packages=(
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-tools-dev qt6-l10n-tools
    qt6-translations-l10n qt6-qpa-plugins libsqlite3-dev libssl-dev libsodium-dev libicu-dev zlib1g-dev pkgconf libxcb1-dev
    fonts-noto-cjk
    xvfb xauth x11-utils xdotool imagemagick trayer dbus-x11 openbox python3-dbus python3-gi
    ninja-build cmake g++ lld make ccache sqlite3
    desktop-file-utils appstream dpkg-dev fakeroot file lintian
    syncthing curl
    unicode-data python3
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
