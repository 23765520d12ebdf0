# Sourced by the hand-run measurement scripts: a work folder removed at the end, every process
# started kept in PIDS and ended with it, a private Xvfb (it picks a free display number) and
# trayer as the tray host (left out with --no-tray). Call: start_session <work-folder prefix>
# [--no-tray].
start_session() {
    WORK=$(mktemp -d "/tmp/$1-XXXXXX")
    PIDS=()
    trap end_session EXIT
    exec 9>"$WORK/display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
    export DISPLAY=:$(head -n1 "$WORK/display")
    [ "${2:-}" = --no-tray ] && return
    trayer --edge bottom --align right --SetDockType true >/dev/null 2>&1 &
    PIDS+=($!)
}

end_session() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
