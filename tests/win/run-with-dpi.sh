#!/usr/bin/env bash
# Runs one Wine test program with the screen at a given DPI (Wine's LogPixels), in a prefix
# of its own that has Wine's dialog fonts installed. Wine's server reads the value when it
# starts, so the server is restarted before and after.
# Usage: run-with-dpi.sh DPI program [args...]
set -u
dpi=$1
shift
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-dpi"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
restart() { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# MS Sans Serif, the dialogs' font, as it is on Windows; without it Wine measures another.
for font in /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon; do
    [ -e "$font" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ] &&
        cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
restart
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
restart
KESTRUN_EXPECT_DPI=$dpi wine "$@"
status=$?
restart
exit $status
