# Interactive runs of Windows programs under Wine and a private X server, for the
# end-to-end scripts that check windows: source this file, call xvfb_start OUTDIR, then
# xvfb_case for each run; xvfb_summary ends the script with its result. Exits 77
# (skipped) when Xvfb, xdotool or import (imagemagick) is missing.

for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

xvfb_failures=0
xvfb_total=0

# xvfb_start OUTDIR: a free display with its own X server, and a Wine prefix of its own
# in OUTDIR (a Wine server already running for the shared test prefix has a desktop
# without a display, and windows of programs attached to it would never reach this X
# server).
xvfb_start() {
    xvfb_outdir=$1
    mkdir -p "$xvfb_outdir"
    # The server picks a free display number itself and tells it through a pipe, so
    # that scripts started at the same time never share one.
    local fifo="$xvfb_outdir/displayfd"
    rm -f "$fifo"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    trap xvfb_stop EXIT
    local display=""
    read -r -t 30 display <"$fifo" || true
    rm -f "$fifo"
    [ -n "$display" ] || { echo "FAIL: the X server did not start"; exit 1; }
    export DISPLAY=":$display"
    export OLMA_KEEP_DISPLAY=1
    export WINEPREFIX="$xvfb_outdir/wineprefix"
}

xvfb_stop() {
    WINEPREFIX="$xvfb_outdir/wineprefix" wineserver -k 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}

# xvfb_case NAME EXPECTED-EXIT TITLE COMMAND...: runs the command, waits for a window
# whose title is exactly TITLE, photographs the screen into OUTDIR/NAME.png, presses
# Enter in that window (its default button) until the program ends, and checks the exit
# code and that nothing was written on the standard streams.
xvfb_case() {
    local name=$1 expected=$2 title=$3
    shift 3
    xvfb_total=$((xvfb_total + 1))
    "$@" >"$xvfb_outdir/$name.out" 2>"$xvfb_outdir/$name.err" &
    local pid=$!
    local wid=""
    for _ in $(seq 1 900); do
        wid=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1)
        [ -n "$wid" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$wid" ]; then
        echo "FAIL $name: no window titled '$title' appeared"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        xvfb_failures=$((xvfb_failures + 1))
        return 1
    fi
    sleep 0.5 # let the window paint before the photograph
    import -window root "$xvfb_outdir/$name.png" 2>/dev/null
    for _ in $(seq 1 50); do
        xdotool windowfocus --sync "$wid" 2>/dev/null
        xdotool key Return 2>/dev/null
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL $name: the window could not be dismissed"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        xvfb_failures=$((xvfb_failures + 1))
        return 1
    fi
    wait "$pid"
    local rc=$?
    if [ "$rc" -ne "$expected" ]; then
        echo "FAIL $name: exit code $rc, expected $expected"
        xvfb_failures=$((xvfb_failures + 1))
        return 1
    fi
    # Interactive messages never go to the standard streams.
    if [ -s "$xvfb_outdir/$name.out" ] || [ -s "$xvfb_outdir/$name.err" ]; then
        echo "FAIL $name: unexpected console output"
        xvfb_failures=$((xvfb_failures + 1))
        return 1
    fi
    echo "ok $name (exit $rc, screenshot $xvfb_outdir/$name.png)"
}

# xvfb_fail NAME TEXT: a failed check of the calling script.
xvfb_fail() {
    echo "FAIL $1: $2"
    xvfb_failures=$((xvfb_failures + 1))
}

xvfb_summary() {
    echo "$((xvfb_total - xvfb_failures)) of $xvfb_total passed"
    [ "$xvfb_failures" -eq 0 ]
}
