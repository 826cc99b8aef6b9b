#!/usr/bin/env bash
# One end-to-end test: starts the server side on the client's loopback port, runs the
# driver (under Wine) with the given test filter, then stops everything it started.
#   run_e2e.sh lobby|down|silent GTEST_FILTER
# The build passes KESTRUN_E2E_PORT, KESTRUN_E2E_DRIVER, KESTRUN_E2E_CLIENT_EXE,
# KESTRUN_E2E_GAME_EXE and KESTRUN_LOBBY in the environment.
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
cleanup() {
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
lobby)
    [ -x "$KESTRUN_LOBBY" ] || { echo "no lobby at $KESTRUN_LOBBY (build the native preset)" >&2; exit 1; }
    "$KESTRUN_LOBBY" seed --db "$work/lobby.db" --races 6 >/dev/null
    kestrun_lobby_start "$KESTRUN_LOBBY" "$work/lobby.log" --listen "127.0.0.1:$port" --db "$work/lobby.db" \
        --rate-limit 0
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

KESTRUN_E2E_CLIENT=$(kestrun_windows_path "$KESTRUN_E2E_CLIENT_EXE") \
KESTRUN_E2E_GAME=$(kestrun_windows_path "$KESTRUN_E2E_GAME_EXE") \
KESTRUN_E2E_WORK=$(kestrun_windows_path "$work/games") \
KESTRUN_E2E_BROWSER="$work/browser" \
KESTRUN_E2E_BROWSER_LOG=$(kestrun_windows_path "$work/browser.log") \
    wine "$KESTRUN_E2E_DRIVER" --gtest_filter="$filter"
