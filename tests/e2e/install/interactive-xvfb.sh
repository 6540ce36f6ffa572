#!/usr/bin/env bash
# Interactive runs of real installers under a private X server: the installer engine's
# own dialog during an interactive install (the product then installed), the error box
# of a failing run, and the information box of an extraction (the files then there),
# each window found by its title, photographed and dismissed with Enter, the exit code
# checked. Usage: interactive-xvfb.sh INSTALLER-DIR PACKAGE-DIR TeskStub.exe wine-run
# OUTPUT-DIR. Exit 77 (skipped) without Xvfb.
set -u
installers=$1 packages=$2 stub=$3 winerun=$4 outdir=$5
source "$(dirname "$0")/../xvfb-lib.sh"
xvfb_start "$outdir"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The prefix is this script's own and kept between runs: take the product out first.
"$winerun" "$stub" --silent --version >/dev/null 2>&1 # makes the prefix on first use
uninstall() { wine msiexec /x "$(winepath -w "$packages/E2EInteractive.msi")" /qn >/dev/null 2>&1; wineserver -w; }
uninstall
installed() { wine reg query 'HKLM\Software\TeskTests\E2EInteractive' /v Value 2>/dev/null | grep -q default; }

# The engine shows the package's own dialog at its full interface level.
if xvfb_case engine-dialog 0 "Tesk test package setup" "$winerun" "$installers/Interactive.exe"; then
    installed || xvfb_fail engine-dialog "the product was not installed"
fi
uninstall

# A run that fails (a stub without packages) says so in an error box.
xvfb_case failure-box 1 "Brindlecap Installer" "$winerun" "$stub"

# Extraction only ends with an information box naming the directory.
rm -rf "$outdir/extracted"
if xvfb_case extract-box 0 "Brindlecap Installer" "$winerun" "$installers/Extract.exe" --extract --path \
    "$outdir/extracted"; then
    cmp -s "$outdir/extracted/E2EExtract.msi" "$packages/E2EExtract.msi" ||
        xvfb_fail extract-box "E2EExtract.msi was not extracted"
fi
xvfb_summary
