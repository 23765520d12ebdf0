#!/bin/bash
# The tray icon and a notification on a status-notifier desktop (an Xfce panel with its
# notification daemon), for the documentation, run by hand:
#   bench/measure/desktop_screenshot.sh [program] [output picture]
# Installs xfce4-panel and xfce4-notifyd when missing (they are not needed otherwise).
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
PROGRAM=${1:-$ROOT/build/release/shell/app/quorvane}
OUT=${2:-$ROOT/docs/desktop-sni.png}
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM" >&2; exit 1; }
NOTIFYD=/usr/lib/x86_64-linux-gnu/xfce4/notifyd/xfce4-notifyd
if ! command -v xfce4-panel >/dev/null || [ ! -x "$NOTIFYD" ] || ! command -v import >/dev/null; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        xfce4-panel xfce4-notifyd imagemagick >/dev/null
fi

# shellcheck source=session.sh
. "$HERE/session.sh"
start_session qrv-desktop --no-tray
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_RUNTIME_DIR=$WORK/rt
mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The program's icon, as the package installs it, for the notification.
mkdir -p "$HOME/.local/share/icons/hicolor/scalable/apps"
cp "$ROOT/resources/pictures/quorvane.svg" \
    "$HOME/.local/share/icons/hicolor/scalable/apps/example.ostrelle.Quorvane.svg"
# The panel's own default layout, so that it does not ask at its first start.
cp /etc/xdg/xfce4/panel/default.xml "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
dbus-daemon --session --nofork --address="unix:path=$WORK/bus" >/dev/null 2>&1 &
PIDS+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$WORK/bus
for _ in $(seq 100); do [ -S "$WORK/bus" ] && break; sleep 0.05; done
xfce4-panel >/dev/null 2>&1 &
PIDS+=($!)
"$NOTIFYD" >/dev/null 2>&1 &
PIDS+=($!)
sleep 3

# A list with one server that cannot be reached, balloons for load errors, a run every 5 s.
mkdir -p "$WORK/app/cfg/Ostrelle"
cp "$PROGRAM" "$WORK/app/quorvane"
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Ostrelle\Quorvane]' '"Version"="0.9.18"' \
    '"CheckUpdate"=dword:00000000' '"VerifyURL"="http://"' '"VerifyEnabled"=dword:00000000' \
    '"CheckInterval"="5"' "\"LogFile\"=\"$WORK/app/QRV.log\"" '"LogEnabled"=dword:00000001' \
    '"BalloonLevel"="1"' '"HotkeyEnabled"=dword:00000000' '"Language"="en"' '' \
    >"$WORK/app/cfg/Ostrelle/Quorvane.reg"
printf '%s' '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="Name" fieldtype="string" WIDTH="200"/><FIELD attrname="Status" fieldtype="string" WIDTH="10"/><FIELD attrname="Result" fieldtype="string" WIDTH="50000"/><FIELD attrname="Url" fieldtype="string" WIDTH="500"/><FIELD attrname="Active" fieldtype="boolean"/><FIELD attrname="LoadTime" fieldtype="i4"/><FIELD attrname="Timeout" fieldtype="i4"/><FIELD attrname="TimeoutEnabled" fieldtype="boolean"/><FIELD attrname="Response" fieldtype="string" WIDTH="50000"/><FIELD attrname="ResponseEnabled" fieldtype="boolean"/></FIELDS><PARAMS/></METADATA><ROWDATA><ROW Name="shop.example" Status="" Result="Waiting..." Url="http://127.0.0.1:1/" Active="TRUE" LoadTime="-1"/></ROWDATA></DATAPACKET>' \
    >"$WORK/app/QRV.xml"
XDG_CONFIG_DIRS=$WORK/app/cfg "$WORK/app/quorvane" >"$WORK/app/output.txt" 2>&1 &
PIDS+=($!)
# The window out of the way: the tray icon and the notification are the subject.
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Quorvane 0' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "${window:-}" ] && xdotool windowunmap "$window"
sleep 8
import -window root "$WORK/screen.png"
# The panel's right end (clock, tray) and the notification below it.
convert "$WORK/screen.png" -crop 460x150+564+0 +repage "$OUT"
echo "written: $OUT"
