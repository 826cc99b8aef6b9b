#!/usr/bin/env bash
# One end-to-end test: starts the server side on the client's loopback port, runs the
# driver (under Wine) with the given test filter, then stops everything it started.
#   run_e2e.sh lobby|down|silent|download|installed GTEST_FILTER
# download: the client under test is kestrun.exe as players download it from a lobby with
# --public-url (made from KESTRUN_E2E_PACKAGED_CLIENT, whose address is another); installed:
# the same lobby's kestrun-setup.exe, installed silently.
# The build passes KESTRUN_E2E_PORT, KESTRUN_E2E_DRIVER, KESTRUN_E2E_CLIENT_EXE,
# KESTRUN_E2E_GAME_EXE, KESTRUN_E2E_PACKAGED_CLIENT and KESTRUN_LOBBY in the environment.
set -euo pipefail
mode=$1
filter=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
kestrun_root=$root source "$root/scripts/lib/wine-env.sh"
source "$root/scripts/lib/lobby.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-e2e.XXXXXX")
server_pid=""
own_wine=""
installed=""
cleanup() {
    # _?= runs the uninstaller in place, so wine returns when it is done.
    [ -n "$installed" ] && wine "$installed\\uninstall.exe" /S "_?=$installed" </dev/null >/dev/null 2>&1
    # A client that outlived its driver (the driver ends it; if the driver crashed, this does).
    local p
    for p in $(kestrun_wine_pids "${KESTRUN_E2E_CLIENT_EXE##*/}"); do kill "$p" 2>/dev/null || true; done
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    kestrun_lobby_stop || true
    [ -n "$own_wine" ] && kestrun_wine_stop
    rm -rf "$work"
}
trap cleanup EXIT

port=$KESTRUN_E2E_PORT
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
wait_until() {  # $1: seconds, rest: command
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}
if port_open; then
    echo "port $port is in use; reconfigure (cmake -U KESTRUN_E2E_PORT) to pick another" >&2
    exit 1
fi

case $mode in
lobby | download | installed)
    [ -x "$KESTRUN_LOBBY" ] || { echo "no lobby at $KESTRUN_LOBBY (build the native preset)" >&2; exit 1; }
    "$KESTRUN_LOBBY" seed --db "$work/lobby.db" --races 6 >/dev/null
    clients=()
    if [ "$mode" != lobby ]; then
        mkdir "$work/share" "$work/downloaded"
        cp "$KESTRUN_E2E_PACKAGED_CLIENT" "$work/share/kestrun.exe"
        cp "$root/installer/kestrun.nsi" "$root/client/res/kestrun.ico" "$work/share/"
        clients=(--public-url "http://127.0.0.1:$port/" --clients "$work/share")
    fi
    kestrun_lobby_start "$KESTRUN_LOBBY" "$work/lobby.log" --listen "127.0.0.1:$port" --db "$work/lobby.db" \
        --rate-limit 0 "${clients[@]}"
    ;;
silent)
    # Accepts connections, reads, never answers.
    python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16)
print("listening", flush=True)
held = []
while True:
    c, _ = s.accept(); held.append(c)
' "$port" >"$work/silent.log" 2>&1 &
    server_pid=$!
    wait_until 20 grep -q listening "$work/silent.log" || exit 1
    ;;
down) ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac

if [ -z "${DISPLAY:-}" ]; then
    kestrun_wine_start
    own_wine=1
fi

cat >"$work/browser" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >> "$work/browser.log"
SCRIPT
chmod +x "$work/browser"
mkdir -p "$work/games"

if [ "$mode" = download ] || [ "$mode" = installed ]; then
    file=kestrun.exe
    [ "$mode" = installed ] && file=kestrun-setup.exe
    # The lobby makes its clients after it listens, the installer last.
    wait_until 60 curl -fsS -o /dev/null "http://127.0.0.1:$port/download/$file" ||
        { cat "$work/lobby.log" >&2; exit 1; }
    (cd "$work/downloaded" &&
        curl -fsS --max-time 30 -O "http://127.0.0.1:$port/download/$file" &&
        curl -fsS --max-time 30 -O "http://127.0.0.1:$port/download/SHA256SUMS" &&
        sha256sum --quiet --ignore-missing -c SHA256SUMS) || { cat "$work/lobby.log" >&2; exit 1; }
    KESTRUN_E2E_CLIENT_EXE=$work/downloaded/kestrun.exe
    if [ "$mode" = installed ]; then
        wine "$work/downloaded/kestrun-setup.exe" /S "/D=$(kestrun_windows_path "$work/installed")" </dev/null >/dev/null 2>&1
        installed=$(kestrun_windows_path "$work/installed")
        KESTRUN_E2E_CLIENT_EXE=$work/installed/kestrun.exe
        [ -s "$KESTRUN_E2E_CLIENT_EXE" ] || { echo "the installer put no kestrun.exe into $work/installed" >&2; exit 1; }
    fi
fi
KESTRUN_E2E_CLIENT=$(kestrun_windows_path "$KESTRUN_E2E_CLIENT_EXE") \
KESTRUN_E2E_GAME=$(kestrun_windows_path "$KESTRUN_E2E_GAME_EXE") \
KESTRUN_E2E_WORK=$(kestrun_windows_path "$work/games") \
KESTRUN_E2E_BROWSER="$work/browser" \
KESTRUN_E2E_BROWSER_LOG=$(kestrun_windows_path "$work/browser.log") \
    wine "$KESTRUN_E2E_DRIVER" --gtest_filter="$filter"
