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
source "$(dirname "$0")/../xvfb-lib.sh"
xvfb_start "$outdir"

title="Brindlecap Installer"
xvfb_case unknown-option 2 "$title" "$winerun" "$stub" --bogus
xvfb_case parse-error 2 "$title" "$winerun" "$stub" stray-argument
xvfb_case help-before-silent 0 "$title" "$winerun" "$stub" --help --silent
xvfb_case version 0 "$title" "$winerun" "$stub" -version
xvfb_summary
