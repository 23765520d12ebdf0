#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, if any are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config gettext clang-format clang-tidy
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-wayland libxcb1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick x11-session-utils
  xfce4-panel xfwm4 libglib2.0-bin openbox
  dbus-daemon sway wtype fonts-wine
  qt6-translations-l10n
  nginx-light curl libxml2-utils locales
  libssl-dev openssl
  dpkg-dev desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The list file's tests save under one locale and read under another.
for loc in cs_CZ en_US; do
  if ! locale -a 2>/dev/null | grep -qx "$loc.utf8"; then
    $sudo localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done
