#!/usr/bin/env bash
# Runs a Windows program of the build under the test prefix (CTest's emulator).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${TVL_WINEPREFIX:-$here/../build/wineprefix}
# Wine finds its server through a folder under TMPDIR that the prefix names:
# the same TMPDIR as the script that started the server (scripts/bench-env.sh).
export TMPDIR=${TVL_WINE_TMPDIR:-$(dirname "$WINEPREFIX")/tmp}
mkdir -p "$TMPDIR"
export WINEDEBUG=${WINEDEBUG:--all}
export DISPLAY=${DISPLAY:-:99}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The users' time zone, daylight saving included, whatever the machine's.
export TZ=Europe/Madrid
exec wine "$@"
