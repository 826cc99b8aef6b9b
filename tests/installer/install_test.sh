#!/usr/bin/env bash
# Silent install of kestrun-setup.exe into a Wine prefix of its own, then a silent
# uninstall: the program, the shortcut and the Add/Remove Programs entry must come and go.
# Usage: install_test.sh kestrun-setup.exe
set -u
setup=$1
KESTRUN_WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-installer" source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrun'
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kestrun.lnk"
# The 64-bit installer writes the 64-bit view; a 32-bit one lands where WoW64 puts it.
if objdump -f "$setup" 2>/dev/null | grep -q 'x86-64'; then bits=64; else bits=32; fi
installed_where() {
    local d
    for d in "Program Files" "Program Files (x86)"; do
        [ -e "$WINEPREFIX/drive_c/$d/Kestrun" ] && { echo "$WINEPREFIX/drive_c/$d/Kestrun"; return; }
    done
}
failures=0
check() {  # $1: description, rest: command that must succeed
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
settle() { wineserver -w >/dev/null 2>&1; }

# A prefix left with an installation by an interrupted run starts over.
[ -n "$(installed_where)" ] && { wineserver -k >/dev/null 2>&1; settle; rm -rf "$WINEPREFIX"; }
kestrun_wine_prefix

wine "$setup" /S </dev/null >/dev/null 2>&1
settle
dir=$(installed_where)
check "install folder exists" test -n "$dir"
if [ -n "$dir" ]; then
    # The 32-bit installer in a 64-bit prefix goes under Program Files (x86).
    expected="Program Files"
    [ $bits = 32 ] && [ -d "$WINEPREFIX/drive_c/Program Files (x86)" ] && expected="Program Files (x86)"
    check "installed into $expected\\Kestrun" test "$dir" = "$WINEPREFIX/drive_c/$expected/Kestrun"
    check "kestrun.exe installed" test -s "$dir/kestrun.exe"
    check "uninstaller installed" test -s "$dir/uninstall.exe"
fi
check "Start-menu shortcut created" test -s "$shortcut"
entry=$(wine reg query "$key" /reg:$bits 2>/dev/null | tr -d '\r')
echo "$entry"
for value in "DisplayName.*Kestrun" "Publisher.*Kestrun" "DisplayVersion.*REG_SZ.*[0-9]+\.[0-9]+\.[0-9]+" \
             "DisplayIcon.*kestrun\.exe" "EstimatedSize.*REG_DWORD.*0x[0-9a-f]*[1-9a-f]" \
             "UninstallString.*uninstall\.exe" "QuietUninstallString.*uninstall\.exe\" /S"; do
    check "uninstall entry: $value" grep -Eq "$value" <<<"$entry"
done

# The uninstaller copies itself to the temporary folder and returns at once; settle waits
# for the copy, which does the work.
[ -n "$dir" ] && wine "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1
settle
check "install folder removed" test -z "$(installed_where)"
check "shortcut removed" test ! -e "$shortcut"
check "uninstall entry removed" bash -c "! wine reg query '$key' /reg:$bits >/dev/null 2>&1"
wineserver -k >/dev/null 2>&1
settle
[ "$failures" -eq 0 ] && echo "installer: all checks passed"
exit $((failures > 0))
