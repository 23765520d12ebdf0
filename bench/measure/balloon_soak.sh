#!/bin/bash
# Memory soak of the real program with balloons on, run by hand (figures are printed, never
# asserted):
#   bench/measure/balloon_soak.sh [program] [runs] [sample-every]
# program defaults to build/release/shell/app/quorvane. Three loopback servers that each give
# a balloon every run (missing page, wrong answer, slow load), and with SOAK_MIXED=1 three more
# that answer well (six mixed servers, three balloons a run), at a 1 s interval with
# BalloonLevel 4, under a private Xvfb with trayer as the tray host. Every `sample-every` runs
# (default 50) it prints RSS, anonymous memory, open descriptors and threads. Each server
# costs a second of pauses, so a run takes about 4 s (7 s mixed).
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
PROGRAM=${1:-$ROOT/build/release/shell/app/quorvane}
RUNS=${2:-1000}
EVERY=${3:-50}
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM" >&2; exit 1; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "needs nginx (nginx-light)" >&2; exit 1; }

# shellcheck source=session.sh
. "$HERE/session.sh"
start_session qrv-soak

# The servers: one nginx on a free loopback port.
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null || echo 18431)
mkdir -p "$WORK/www" "$WORK/nginx/tmp"
echo "fine" >"$WORK/www/page.html"
cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
error_log $WORK/nginx/error.log warn;
pid $WORK/nginx/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $WORK/nginx/tmp;
  proxy_temp_path $WORK/nginx/tmp;
  fastcgi_temp_path $WORK/nginx/tmp;
  uwsgi_temp_path $WORK/nginx/tmp;
  scgi_temp_path $WORK/nginx/tmp;
  types { text/html html; }
  server { listen 127.0.0.1:$PORT; root $WORK/www; }
}
EOF
"$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" 2>"$WORK/nginx/start.txt" &
PIDS+=($!)
sleep 1

dir=$WORK/app
mkdir -p "$dir/cfg/Ostrelle" "$dir/rt" "$dir/home"
chmod 700 "$dir/rt"
cp "$PROGRAM" "$dir/quorvane"
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Ostrelle\Quorvane]' '"Version"="0.9.18"' \
    '"CheckUpdate"=dword:00000000' '"VerifyURL"="http://"' '"VerifyEnabled"=dword:00000000' \
    '"CheckInterval"="1"' "\"LogFile\"=\"$dir/QRV.log\"" '"LogEnabled"=dword:00000001' \
    '"BalloonLevel"="4"' '"HotkeyEnabled"=dword:00000000' '"Language"="en"' '' \
    >"$dir/cfg/Ostrelle/Quorvane.reg"
row() {  # name path timeout response
    local response=""
    [ -n "$4" ] && response=" Response=\"$4\" ResponseEnabled=\"TRUE\""
    printf '<ROW Name="%s" Status="" Result="Waiting..." Url="http://127.0.0.1:%s%s" Active="TRUE" LoadTime="-1" Timeout="%s" TimeoutEnabled="TRUE"%s/>' \
        "$1" "$PORT" "$2" "$3" "$response"
}
{
    printf '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>'
    printf '<FIELD attrname="Name" fieldtype="string" WIDTH="200"/><FIELD attrname="Status" fieldtype="string" WIDTH="10"/>'
    printf '<FIELD attrname="Result" fieldtype="string" WIDTH="50000"/><FIELD attrname="Url" fieldtype="string" WIDTH="500"/>'
    printf '<FIELD attrname="Active" fieldtype="boolean"/><FIELD attrname="LoadTime" fieldtype="i4"/>'
    printf '<FIELD attrname="Timeout" fieldtype="i4"/><FIELD attrname="TimeoutEnabled" fieldtype="boolean"/>'
    printf '<FIELD attrname="Response" fieldtype="string" WIDTH="50000"/><FIELD attrname="ResponseEnabled" fieldtype="boolean"/>'
    printf '</FIELDS><PARAMS/></METADATA><ROWDATA>'
    row missing /missing.html 5000 ""
    row wrong /page.html 5000 "other"
    row slow /page.html -1 ""
    if [ "${SOAK_MIXED:-0}" = 1 ]; then
        row ok1 /page.html 5000 ""
        row ok2 /page.html 5000 ""
        row ok3 /page.html 5000 ""
    fi
    printf '</ROWDATA></DATAPACKET>'
} >"$dir/QRV.xml"

(cd "$dir" && exec env HOME="$dir/home" XDG_CONFIG_DIRS="$dir/cfg" XDG_RUNTIME_DIR="$dir/rt" \
    LANG=C.UTF-8 ./quorvane >"$dir/out.txt" 2>&1) &
APP=$!
PIDS+=($APP)

kb() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/smaps_rollup"; }
runs() { awk '/Completed with/ { n++ } END { print n + 0 }' "$dir/QRV.log" 2>/dev/null || echo 0; }
sample() {
    printf '%6d runs  Rss %6s kB  Anonymous %6s kB  descriptors %3s  threads %2s\n' "$1" \
        "$(kb $APP Rss)" "$(kb $APP Anonymous)" "$(ls /proc/$APP/fd | wc -l)" \
        "$(awk '/^Threads:/ { print $2 }' /proc/$APP/status)"
}

next=$EVERY
for _ in $(seq $((RUNS * 20))); do
    kill -0 "$APP" 2>/dev/null || { echo "the program ended: $(tail -n3 "$dir/out.txt")"; exit 1; }
    n=$(runs)
    if [ "$n" -ge 1 ] && [ "${first:-}" = "" ]; then first=1; sample "$n"; fi
    if [ "$n" -ge "$next" ]; then sample "$n"; next=$((next + EVERY)); fi
    [ "$n" -ge "$RUNS" ] && break
    sleep 1
done
kill -TERM "$APP"; wait "$APP"
echo "exit status $?"
