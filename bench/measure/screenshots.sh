#!/bin/bash
# Pictures of the windows for the documentation, run by hand:
#   bench/measure/screenshots.sh [program] [output folder]
# A mixed run (OK, wrong answer, error, slow, inactive) against a loopback server of our own,
# in English and in Czech, under a private Xvfb with trayer as the tray host.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
PROGRAM=${1:-$ROOT/build/H2-rel/shell/app/quorvane}
OUT=${2:-$ROOT/docs}
[ -x "$PROGRAM" ] || { echo "no program at $PROGRAM" >&2; exit 1; }
# shellcheck source=session.sh
. "$HERE/session.sh"
start_session qrv-shots

# The loopback server: an answer, a missing page, a slow answer.
python3 - "$WORK/port" >/dev/null 2>&1 <<'PY' &
import http.server, sys, time
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/slow":
            time.sleep(1.5)
        code = 404 if self.path == "/missing" else 200
        body = b"<html><body>Service is up</body></html>"
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
s = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H)
open(sys.argv[1], "w").write(str(s.server_address[1]))
s.serve_forever()
PY
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
BASE=http://127.0.0.1:$(cat "$WORK/port")

install() {  # dir language
    local dir=$1
    mkdir -p "$dir/cfg/Ostrelle" "$dir/rt"
    chmod 700 "$dir/rt"
    cp "$PROGRAM" "$dir/quorvane"
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_LOCAL_MACHINE\Software\Ostrelle\Quorvane]' '"Version"="0.9.18"' \
        '"CheckUpdate"=dword:00000000' '"VerifyURL"="http://"' '"VerifyEnabled"=dword:00000000' \
        '"CheckInterval"="20"' "\"LogFile\"=\"$dir/QRV.log\"" '"LogEnabled"=dword:00000001' \
        '"BalloonLevel"="1"' '"HotkeyEnabled"=dword:00000000' "\"Language\"=\"$2\"" '' \
        >"$dir/cfg/Ostrelle/Quorvane.reg"
    row() {  # name url active response
        local resp=""
        [ -n "$4" ] && resp=" Response=\"$4\" ResponseEnabled=\"TRUE\""
        printf '<ROW Name="%s" Status="" Result="Waiting..." Url="%s" Active="%s" LoadTime="-1" Timeout="5000" TimeoutEnabled="TRUE"%s/>' \
            "$1" "$2" "$3" "$resp"
    }
    {
        printf '<?xml version="1.0" standalone="yes"?>  <DATAPACKET Version="2.0"><METADATA><FIELDS>'
        printf '<FIELD attrname="Name" fieldtype="string" WIDTH="200"/><FIELD attrname="Status" fieldtype="string" WIDTH="10"/>'
        printf '<FIELD attrname="Result" fieldtype="string" WIDTH="50000"/><FIELD attrname="Url" fieldtype="string" WIDTH="500"/>'
        printf '<FIELD attrname="Active" fieldtype="boolean"/><FIELD attrname="LoadTime" fieldtype="i4"/>'
        printf '<FIELD attrname="Timeout" fieldtype="i4"/><FIELD attrname="TimeoutEnabled" fieldtype="boolean"/>'
        printf '<FIELD attrname="Response" fieldtype="string" WIDTH="50000"/><FIELD attrname="ResponseEnabled" fieldtype="boolean"/>'
        printf '</FIELDS><PARAMS/></METADATA><ROWDATA>'
        row "Company website" "$BASE/" TRUE ""
        row "Shop" "$BASE/shop" TRUE "Add to basket"
        row "Old pages" "$BASE/missing" TRUE ""
        row "Reports (slow)" "$BASE/slow" TRUE ""
        row "Closed port" "http://127.0.0.1:1/" TRUE ""
        row "Staging (inactive)" "$BASE/staging" FALSE ""
        printf '</ROWDATA></DATAPACKET>'
    } >"$dir/QRV.xml"
}

window() {  # title pattern
    for _ in $(seq 500); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 | grep . && return 0
        sleep 0.02
    done
    return 1
}
shot() {  # window id, file
    import -window "$1" "$WORK/shot.png" && convert "$WORK/shot.png" -strip -colors 256 "PNG8:$2"
    echo "$2"
}

for language in en cs; do
    dir=$WORK/$language
    install "$dir" "$language"
    # A Czech station has a Czech locale (and so the Central European code page).
    locale=C.UTF-8; [ "$language" = cs ] && locale=cs_CZ.UTF-8
    (cd "$dir" && exec env XDG_CONFIG_DIRS="$dir/cfg" XDG_CONFIG_HOME="$dir/home" XDG_RUNTIME_DIR="$dir/rt" LANG=$locale \
        ./quorvane >"$dir/out.txt" 2>&1) &
    APP=$!; PIDS+=($APP)
    main=$(window '^Quorvane 0\.9\.18$') || { echo "no main window ($language)"; continue; }
    sleep 34   # the first run (after 20 s, with the slow server) is over, the next not begun
    shot "$main" "$OUT/main-$language.png"
    if [ "$language" = en ]; then
        # No window manager: a dialog is the visible window that was not there before.
        before=$(xdotool search --onlyvisible --name . 2>/dev/null | sort)
        dialog() {  # keys, file
            xdotool windowfocus --sync "$main" 2>/dev/null
            xdotool key $1
            sleep 1.5
            local id
            id=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --name . 2>/dev/null | sort) | tail -n1)
            if [ -n "$id" ]; then
                shot "$id" "$2"
                # Cancel sits at the bottom left of both dialogs.
                eval "$(xdotool getwindowgeometry --shell "$id")"
                xdotool mousemove --window "$id" $((WIDTH / 2)) $((HEIGHT - 32)) click 1
                sleep 0.7
            else
                echo "no window for $1"
            fi
        }
        dialog ctrl+e "$OUT/dialog-server.png"
        dialog ctrl+s "$OUT/dialog-settings.png"
        # About from the Help menu: Help is the fourth title of the menu bar.
        eval "$(xdotool getwindowgeometry --shell "$main")"
        xdotool mousemove --window "$main" 190 8 click 1; sleep 0.7
        xdotool mousemove --window "$main" 200 50 click 1; sleep 1.5
        id=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --name . 2>/dev/null | sort) | tail -n1)
        [ -n "$id" ] && shot "$id" "$OUT/dialog-about.png"
        xdotool windowfocus --sync "$id" 2>/dev/null; xdotool key Escape; sleep 0.5
    fi
    kill -TERM "$APP"
    for _ in $(seq 50); do kill -0 "$APP" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$APP" 2>/dev/null; wait "$APP" 2>/dev/null
done
