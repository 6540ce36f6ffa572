#!/usr/bin/env bash
# Interactive mode of the bootstrapper: under a private X server, a syntax error and
# the help and version texts must appear as message boxes captioned
# "Brindlecap Installer"; each box is found by its title, photographed, dismissed with
# the Enter key, and the process must then end with the right exit code.
# Usage: msgbox-xvfb.sh TeskStub.exe wine-run output-dir. Exit 77 (skipped) without Xvfb.
set -u
stub=$1
winerun=$2
outdir=$3
for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
mkdir -p "$outdir"

display=""
for n in $(seq 91 160); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=$n
        break
    fi
done
[ -n "$display" ] || { echo "FAIL: no free X display number"; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
export DISPLAY=":$display"
export OLMA_KEEP_DISPLAY=1

failures=0
# run_case NAME EXPECTED-EXIT ARGS...
run_case() {
    local name=$1 expected=$2
    shift 2
    "$winerun" "$stub" "$@" >"$outdir/$name.out" 2>"$outdir/$name.err" &
    local pid=$!
    local wid=""
    for _ in $(seq 1 600); do
        wid=$(xdotool search --name '^Brindlecap Installer$' 2>/dev/null | head -n 1)
        [ -n "$wid" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$wid" ]; then
        echo "FAIL $name: no window titled 'Brindlecap Installer' appeared"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        failures=$((failures + 1))
        return
    fi
    sleep 0.5 # let the box paint before the photograph
    import -window root "$outdir/$name.png" 2>/dev/null
    # Dismiss: focus the box and press Enter (the OK button is its default).
    for _ in $(seq 1 50); do
        xdotool windowfocus --sync "$wid" 2>/dev/null
        xdotool key Return 2>/dev/null
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL $name: the box could not be dismissed"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        failures=$((failures + 1))
        return
    fi
    wait "$pid"
    local rc=$?
    if [ "$rc" -ne "$expected" ]; then
        echo "FAIL $name: exit code $rc, expected $expected"
        failures=$((failures + 1))
        return
    fi
    # Interactive messages never go to the standard streams.
    if [ -s "$outdir/$name.out" ] || [ -s "$outdir/$name.err" ]; then
        echo "FAIL $name: unexpected console output"
        failures=$((failures + 1))
        return
    fi
    echo "ok $name (exit $rc, screenshot $outdir/$name.png)"
}

run_case unknown-option 2 --bogus
run_case parse-error 2 stray-argument
run_case help-before-silent 0 --help --silent
run_case version 0 -version

total=4
echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
