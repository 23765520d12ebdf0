#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the monitor, as any user.
# Without a display the monitor runs on Qt's offscreen platform and keeps checking the servers.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane

exe="$PWD/build/release/shell/app/quorvane"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display: running offscreen."
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/quorvane-runtime-$(id -u)"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi

# Where the program keeps its files: the same rules as its own, for the message below.
# Unset and relative XDG variables fall back to their defaults.
absolute() { case "${1:-}" in /*) echo "$1" ;; *) echo "$2" ;; esac; }
data_home="$(absolute "${XDG_DATA_HOME:-}" "$HOME/.local/share")"
config_home="$(absolute "${XDG_CONFIG_HOME:-}" "$HOME/.config")"
config_dirs="${XDG_CONFIG_DIRS:-}"
machine_config="$(absolute "${config_dirs%%:*}" /etc/xdg)"

dir="$(dirname "$exe")"
[ -w "$dir" ] || dir="$data_home/Ostrelle/Quorvane"
settings="$config_home/Ostrelle/Quorvane.reg"
if [ ! -e "$settings" ]; then
  machine="$machine_config/Ostrelle/Quorvane.reg"
  if [ -w "$machine" ] || { [ ! -e "$machine" ] && [ -w "$machine_config" ]; }; then
    settings="$machine"
  fi
fi
echo "Server list: $dir/QRV.xml"
echo "Event log:   the LogFile setting (default $dir/QRV.log)"
echo "Settings:    $settings"
exec "$exe"
