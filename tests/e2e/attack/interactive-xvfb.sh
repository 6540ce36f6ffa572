#!/usr/bin/env bash
# Planted libraries through an interactive install under a private X server: canary
# libraries under the names of everything the installer loads itself or the platform
# loads for it (windows, common controls, themes, message boxes, the engine's own
# interface) lie beside a copy of the installer and in the directory it starts in. The
# control program loads every one of them the careless way from the same places and
# must leave every marker; the installer shows the engine's dialog, which is dismissed,
# installs its product, and must leave none.
# Usage: interactive-xvfb.sh INSTALLER PACKAGE ldr-control.exe CANARY-DIR wine-run
# OUTPUT-DIR NAME,NAME,.... Exit 77 (skipped) without Xvfb.
set -u
installer=$1 package=$2 control=$3 canaries=$4 winerun=$5 outdir=$6
IFS=',' read -r -a names <<<"$7"
source "$(dirname "$0")/../xvfb-lib.sh"
xvfb_start "$outdir"
overrides=$(
    IFS=,
    echo "${names[*]}"
)
export WINEDEBUG=-all

# The Wine server and its desktop start (and stay, until the end) from a directory
# without canaries and without the overrides, so that only the programs under test
# meet the planted libraries.
wineserver -p
WINEDLLOVERRIDES="mscoree,mshtml=" "$winerun" "$installer" --silent --version >/dev/null 2>&1
export WINEDLLOVERRIDES="$overrides=n,b;mscoree,mshtml="

uninstall() { wine msiexec /x "$(winepath -w "$package")" /qn >/dev/null 2>&1; }
installed() { wine reg query 'HKLM\Software\TeskTests\AttackInteractive' /v Value 2>/dev/null | grep -q default; }
uninstall

app="$outdir/app" cwd="$outdir/cwd"
rm -rf "$app" "$cwd" "$outdir/control-markers" "$outdir/markers"
mkdir -p "$app" "$cwd" "$outdir/control-markers" "$outdir/markers"
for name in "${names[@]}"; do
    cp "$canaries/$name.dll" "$app/" && cp "$canaries/$name.dll" "$cwd/"
done
cp "$installer" "$control" "$app/"

# The control: every canary loaded from beside the program and from the current
# directory leaves a marker naming both copies.
cd "$cwd" || exit 1
xvfb_total=$((xvfb_total + 1))
dll_args=()
for name in "${names[@]}"; do dll_args+=("$name.dll"); done
OLMA_CANARY_MARKERS=$(winepath -w "$outdir/control-markers") \
    "$winerun" "$app/$(basename "$control")" "${dll_args[@]}" >"$outdir/control.out" 2>&1
missing=""
for name in "${names[@]}"; do
    marker="$outdir/control-markers/$name.dll.loaded"
    if [ "$(grep -ci "\\\\app\\\\$name.dll\$" "$marker" 2>/dev/null)" != 1 ] ||
        [ "$(grep -ci "\\\\cwd\\\\$name.dll\$" "$marker" 2>/dev/null)" != 1 ]; then
        missing="$missing $name.dll"
    fi
done
if [ -n "$missing" ]; then
    xvfb_fail control "not seen loaded from both places:$missing"
else
    echo "ok control (${#names[@]} canaries loaded from both places)"
fi

# The installer, interactively, from the same places.
export OLMA_CANARY_MARKERS
OLMA_CANARY_MARKERS=$(winepath -w "$outdir/markers")
if xvfb_case engine-dialog 0 "Tesk test package setup" "$winerun" "$app/$(basename "$installer")"; then
    installed || xvfb_fail engine-dialog "the product was not installed"
fi
unset OLMA_CANARY_MARKERS
cd "$outdir" || exit 1
xvfb_total=$((xvfb_total + 1))
loaded=""
for marker in "$outdir/markers"/*.loaded; do
    [ -e "$marker" ] || continue
    loaded="$loaded $(basename "$marker" .loaded) ($(tr -d '\r' <"$marker" | tr '\n' ' '))"
done
if [ -n "$loaded" ]; then
    xvfb_fail planted "loaded:$loaded"
else
    echo "ok planted (no canary loaded)"
fi
uninstall
xvfb_summary
