#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the monitor.
# Without a display the monitor runs on Qt's offscreen platform: it keeps checking the
# servers and writes its list and log beside the executable.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvane

exe="$PWD/build/release/shell/app/quorvane"
dir="$(dirname "$exe")"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display: running offscreen."
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/quorvane-runtime-$(id -u)"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi
echo "Server list: $dir/QRV.xml"
echo "Event log:   the LogFile setting (default $dir/QRV.log)"
# XDG_CONFIG_DIRS is unset in many ordinary sessions: its first entry, else /etc/xdg.
config_dir="${XDG_CONFIG_DIRS:-}"
config_dir="${config_dir%%:*}"
echo "Settings:    ${config_dir:-/etc/xdg}/Ostrelle/Quorvane.reg"
exec "$exe"
