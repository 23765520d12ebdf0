#!/bin/bash
# Footprint of the real program, run by hand (figures are printed, never asserted):
#   bench/measure/app_footprint.sh [program] [big-list-count]
# program defaults to build/H2-rel/shell/app/quorvane (a Release build). Everything runs under
# a private Xvfb with trayer as the tray host, in a temporary folder with its own configuration.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
PROGRAM=${1:-$ROOT/build/H2-rel/shell/app/quorvane}
BIG=${2:-10000}
IDLE=${IDLE_SECONDS:-30}
TITLE='^Quorvane 0\.9\.18$'
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM" >&2; exit 1; }

# shellcheck source=session.sh
. "$HERE/session.sh"
start_session qrv-measure
sleep 1

kb() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/smaps_rollup"; }
# utime + stime of a process, in clock ticks.
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
# Context switches of the main (event loop) thread: each wake-up of a timer counts.
wakeups() { awk '/^(non)?voluntary_ctxt_switches/ { s += $2 } END { print s }' "/proc/$1/status"; }
now_ms() { date +%s%3N; }

# install DIR COUNT: the program, its defaults (no update query) and a list of COUNT servers.
install() {
    local dir=$1 count=$2
    mkdir -p "$dir/cfg/Ostrelle" "$dir/rt"
    chmod 700 "$dir/rt"
    cp "$PROGRAM" "$dir/quorvane"
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_LOCAL_MACHINE\Software\Ostrelle\Quorvane]' '"Version"="0.9.18"' \
        '"CheckUpdate"=dword:00000000' '"VerifyURL"="http://"' '"VerifyEnabled"=dword:00000000' \
        '"CheckInterval"="300"' "\"LogFile\"=\"$dir/QRV.log\"" '"LogEnabled"=dword:00000001' \
        '"BalloonLevel"="3"' '"HotkeyEnabled"=dword:00000000' '"Language"="en"' '' \
        >"$dir/cfg/Ostrelle/Quorvane.reg"
    {
        printf '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>'
        printf '<FIELD attrname="Name" fieldtype="string" WIDTH="200"/><FIELD attrname="Status" fieldtype="string" WIDTH="10"/>'
        printf '<FIELD attrname="Result" fieldtype="string" WIDTH="50000"/><FIELD attrname="Url" fieldtype="string" WIDTH="500"/>'
        printf '<FIELD attrname="Active" fieldtype="boolean"/><FIELD attrname="LoadTime" fieldtype="i4"/>'
        printf '<FIELD attrname="Timeout" fieldtype="i4"/><FIELD attrname="TimeoutEnabled" fieldtype="boolean"/>'
        printf '<FIELD attrname="Response" fieldtype="string" WIDTH="50000"/><FIELD attrname="ResponseEnabled" fieldtype="boolean"/>'
        printf '</FIELDS><PARAMS/></METADATA><ROWDATA>'
        awk -v n="$count" 'BEGIN { for (i = 0; i < n; ++i)
            printf "<ROW Name=\"server %d\" Status=\"\" Result=\"Waiting...\" Url=\"http://127.0.0.1:1/%d\" Active=\"TRUE\" LoadTime=\"-1\" Timeout=\"5000\" TimeoutEnabled=\"TRUE\"/>", 100000 + i, i }'
        printf '</ROWDATA></DATAPACKET>'
    } >"$dir/QRV.xml"
}

start() {
    local dir=$1
    (cd "$dir" && exec env XDG_CONFIG_DIRS="$dir/cfg" XDG_CONFIG_HOME="$dir/home" XDG_RUNTIME_DIR="$dir/rt" LANG=C.UTF-8 \
        ./quorvane >"$dir/out.txt" 2>&1) &
    APP=$!
    PIDS+=($APP)
}

wait_window() {  # pattern, bound in tenths of a second
    local bound=${2:-600}
    for _ in $(seq "$bound"); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 | grep . && return 0
        sleep 0.01
    done
    return 1
}

echo "== 100 servers: memory and idle CPU"
install "$WORK/small" 100
start "$WORK/small"
wait_window "$TITLE" >/dev/null || echo "main window never shown"
sleep 3   # the first run (unreachable addresses) ends well within this
echo "Rss $(kb $APP Rss) kB, Anonymous $(kb $APP Anonymous) kB, Pss $(kb $APP Pss) kB"
t0=$(ticks $APP); w0=$(wakeups $APP)
sleep "$IDLE"
t1=$(ticks $APP); w1=$(wakeups $APP)
hz=$(getconf CLK_TCK)
echo "idle ${IDLE} s: $(( (t1 - t0) * 1000 / hz )) ms CPU, $((w1 - w0)) wake-ups of the main thread"
# Any timer left running would show as returns from the event loop's wait.
if command -v strace >/dev/null; then
    timeout 10 strace -f -qq -e trace=poll,ppoll,epoll_wait,select,pselect6 -p "$APP" \
        -o "$WORK/strace.txt" 2>"$WORK/strace.err"
    echo "wait calls in 10 s of idle: $(cat "$WORK/strace.txt" 2>/dev/null | wc -l)" \
         "$(head -n1 "$WORK/strace.err")"
    cat "$WORK/strace.txt" 2>/dev/null | head -n5
fi
kill -TERM "$APP"; wait "$APP" 2>/dev/null

echo "== https: one server on a loopback TLS server, the switch off, then on"
# A self-signed certificate for 127.0.0.1 is its own trust anchor through SSL_CERT_FILE.
if openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
        -keyout "$WORK/tls.key" -out "$WORK/tls.pem" >/dev/null 2>&1; then
    TLS_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    openssl s_server -quiet -www -accept "127.0.0.1:$TLS_PORT" -cert "$WORK/tls.pem" \
        -key "$WORK/tls.key" >/dev/null 2>&1 &
    PIDS+=($!)
    sleep 0.5
    # "store": on, with the system trust store (the certificate is then not trusted, but the
    # whole store has been read).
    for switch in 0 1 store; do
        dir=$WORK/https$switch
        if [ "$switch" = store ]; then unset SSL_CERT_FILE; else export SSL_CERT_FILE=$WORK/tls.pem; fi
        install "$dir" 0
        sed -i "s|<ROWDATA></ROWDATA>|<ROWDATA><ROW Name=\"tls\" Status=\"\" Result=\"Waiting...\" Url=\"https://127.0.0.1:$TLS_PORT/\" Active=\"TRUE\" LoadTime=\"-1\" Timeout=\"5000\" TimeoutEnabled=\"TRUE\"/></ROWDATA>|" "$dir/QRV.xml"
        # The first run comes one check interval after the start.
        sed -i 's|"CheckInterval"="300"|"CheckInterval"="2"|' "$dir/cfg/Ostrelle/Quorvane.reg"
        printf '"HttpsEnabled"=dword:0000000%d\r\n' "$([ "$switch" = 0 ] && echo 0 || echo 1)" \
            >>"$dir/cfg/Ostrelle/Quorvane.reg"
        start "$dir"
        wait_window "$TITLE" >/dev/null || echo "main window never shown"
        sleep 6
        mapped=no
        grep -q qrv_tls "/proc/$APP/maps" && mapped=yes
        echo "switch $switch: Rss $(kb $APP Rss) kB, Pss $(kb $APP Pss) kB," \
             "Anonymous $(kb $APP Anonymous) kB, TLS module mapped: $mapped"
        echo "  log: $(grep -v 'Checking\|Completed' "$dir/QRV.log" 2>/dev/null | tail -n1 | tr -d '\r')"
        kill -TERM "$APP"; wait "$APP" 2>/dev/null
    done
    unset SSL_CERT_FILE
else
    echo "no openssl: https rows skipped"
fi

echo "== bare Qt 6 tray window"
BARE=$WORK/bare_tray
if g++ -std=c++17 -O2 -fPIC "$HERE/bare_tray.cpp" -o "$BARE" $(pkg-config --cflags --libs Qt6Widgets) 2>"$WORK/bare.txt"; then
    "$BARE" >/dev/null 2>&1 &
    BPID=$!; PIDS+=($BPID)
    wait_window '^Bare tray window$' >/dev/null
    sleep 3
    echo "Rss $(kb $BPID Rss) kB, Anonymous $(kb $BPID Anonymous) kB, Pss $(kb $BPID Pss) kB"
    t0=$(ticks $BPID); sleep 5; t1=$(ticks $BPID)
    echo "idle 5 s: $(( (t1 - t0) * 1000 / hz )) ms CPU"
    kill "$BPID"; wait "$BPID" 2>/dev/null
else
    echo "bare window not built: $(head -n3 "$WORK/bare.txt")"
fi

echo "== $BIG servers: start to window, quit with save"
install "$WORK/big" "$BIG"
s=$(now_ms)
start "$WORK/big"
wait_window "$TITLE" 6000 >/dev/null || echo "main window never shown"
e=$(now_ms)
echo "window mapped $((e - s)) ms after the start (includes xdotool polling)"
sleep 2
echo "Rss $(kb $APP Rss) kB, Anonymous $(kb $APP Anonymous) kB"
s=$(now_ms)
kill -TERM "$APP"; wait "$APP"; rc=$?
e=$(now_ms)
echo "quit on SIGTERM $((e - s)) ms (save included), exit status $rc," \
     "$(grep -o '<ROW ' "$WORK/big/QRV.xml" | wc -l) rows, $(stat -c %s "$WORK/big/QRV.xml") bytes"
