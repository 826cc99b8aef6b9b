# Shared by the project's scripts: a private Wine prefix and an Xvfb display.
# Source it, then call kestrun_wine_start / kestrun_wine_stop.

kestrun_root=${kestrun_root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEPREFIX=${KESTRUN_WINEPREFIX:-$kestrun_root/build/wine-prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
kestrun_xvfb_pid=""
kestrun_display_before=""
kestrun_wine_owned=""

# Where the kernel runs no 32-bit programs (ia32 emulation off), Debian's wine launcher
# still picks the 32-bit loader once wine32 is installed and every start fails with
# "Exec format error"; then 64-bit programs go straight to the 64-bit loader.
kestrun_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] && ! kestrun_runs_32bit; then
    kestrun_wine_shims="$kestrun_root/build/wine-bin"
    mkdir -p "$kestrun_wine_shims"
    for kestrun_shim in wine wine-stable; do
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$kestrun_wine_shims/$kestrun_shim"
        chmod +x "$kestrun_wine_shims/$kestrun_shim"
    done
    export PATH="$kestrun_wine_shims:$PATH"
fi

# Whether the 32-bit client's suites can run here. $1: the build's ia32-probe, which exits
# 32 where the kernel runs 32-bit programs. Returns 0 when they can; 77 with the reason
# (the kernel, the 32-bit Wine or both) when they cannot; 1 with the fault when the parts
# are there but the 32-bit Wine does not start. The loader's path is for tests to move.
kestrun_32bit_check() {
    local probe=$1 loader=${KESTRUN_WINE32_LOADER:-/usr/lib/wine/wine} kernel="" wine=""
    [ -x "$probe" ] || { echo "$probe is missing (it is made with the build)"; return 1; }
    local ran=0
    "$probe" 2>/dev/null || ran=$?
    [ "$ran" -eq 32 ] || kernel="this kernel runs no 32-bit programs"
    if [ ! -x "$loader" ]; then
        wine="no 32-bit Wine ($loader is missing"
        [ -f "$kestrun_root/build/wine32-unavailable" ] &&
            wine+="; bootstrap: $(cat "$kestrun_root/build/wine32-unavailable")"
        wine+=")"
    fi
    if [ -n "$kernel$wine" ]; then
        echo "$kernel${kernel:+${wine:+, and }}$wine"
        return 77
    fi
    local out
    out=$("$loader" --version 2>&1) && return 0
    echo "the 32-bit Wine does not start on a kernel that runs 32-bit programs: ${out%%$'\n'*}"
    return 1
}

kestrun_free_display() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { echo "$n"; return; }
    done
    return 1
}

# True when a wineserver already serves this prefix (its socket is in place).
kestrun_wineserver_running() {
    [ -d "$WINEPREFIX" ] || return 1
    local dev ino
    dev=$(printf %x "$(stat -c %d "$WINEPREFIX")")
    ino=$(printf %x "$(stat -c %i "$WINEPREFIX")")
    local socket
    for socket in /tmp/.wine-"$(id -u)"/server-"$dev-$ino"/socket /tmp/wine-*/server-"$dev-$ino"/socket; do
        [ -S "$socket" ] && return 0
    done
    return 1
}

# A new prefix gets Wine's first start (several seconds) here, once.
kestrun_wine_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
}

kestrun_wine_start() {
    if [ -z "${DISPLAY:-}" ] || [ -n "${KESTRUN_FORCE_XVFB:-}" ]; then
        local n
        n=$(kestrun_free_display) || { echo "no free X display" >&2; return 1; }
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        kestrun_xvfb_pid=$!
        kestrun_display_before=${DISPLAY-}
        export DISPLAY=":$n"
        for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    fi
    mkdir -p "$WINEPREFIX"
    # A persistent wineserver that somebody else started never ends: waiting for it
    # ("wineserver -w") would hang, and stopping it would break their run.
    kestrun_wine_owned=""
    kestrun_wineserver_running && return 0
    kestrun_wine_owned=1
    kestrun_wine_prefix
    # Keep one wineserver for the whole run: later Wine starts are then fast.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    # Start Wine's own services now, detached from any caller's output: started by the
    # first program instead, they inherit its stdout and hold a test runner's pipe open.
    wineboot </dev/null >/dev/null 2>&1 || true
}

kestrun_wine_stop() {
    if [ -n "${kestrun_wine_owned:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        kestrun_wine_owned=""
    fi
    if [ -n "$kestrun_xvfb_pid" ]; then
        kill "$kestrun_xvfb_pid" 2>/dev/null || true
        wait "$kestrun_xvfb_pid" 2>/dev/null || true
        kestrun_xvfb_pid=""
        # The display is gone with its server: a later start must not take it for a desktop.
        if [ -n "$kestrun_display_before" ]; then export DISPLAY=$kestrun_display_before; else unset DISPLAY; fi
    fi
}

# A Unix path as Wine programs see it: drive Z: is the Unix root.
kestrun_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The Unix process IDs of the Wine processes running program $1 (its file name) in this
# prefix, one a line.
kestrun_wine_pids() {
    local p
    for p in $(pgrep -f "$1" || true); do
        if [[ $(tr '\0' '\n' <"/proc/$p/cmdline" 2>/dev/null | head -n 1) == *"$1" ]] &&
            tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$p"
        fi
    done
    return 0
}
