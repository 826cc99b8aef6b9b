#!/usr/bin/env bash
# The lobby's pages under axe-core and puppeteer (pages_test.mjs), against the real daemon
# with 30 days of history seeded straight into its database, and against the lobby with a
# stand-in prober (CHECKED_LOBBY, tests/lobby/checked_lobby.cpp) for the races' checks.
#   pages_test.sh LOBBY_BINARY SCREENSHOT_PATH CHECKED_LOBBY
# Exits 77 (skipped) when tests/browser has no node_modules: scripts/bootstrap installs them.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/lobby.sh"
lobby=$1 screenshot=$2 checked_lobby=$3
if [ ! -d "$here/node_modules/puppeteer-core" ] || ! command -v node >/dev/null; then
    echo "skipped: node or tests/browser/node_modules is missing (scripts/bootstrap installs them)"
    exit 77
fi
work=$(mktemp -d)
checked_pid=""
trap 'kestrun_lobby_stop; [ -z "$checked_pid" ] || { kill "$checked_pid"; wait "$checked_pid"; }; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$lobby" seed --db "$work/l.db" --races 3 >/dev/null || fail "seed"
# Days with different counts, some none, oldest first; races open in the evening (UTC) for
# half an hour to an hour and a half.
today=$(( $(date -u +%s) / 86400 * 86400 ))
nfs4="" nfs5=""
{
    echo "BEGIN;"
    for i in $(seq 0 29); do
        day=$(( today - (29 - i) * 86400 ))
        for game in NFS4 NFS5; do
            if [ "$game" = NFS4 ]; then n=$(( i * 7 % 11 )); nfs4+="${nfs4:+,}$n"
            else n=$(( i * 5 % 8 )); nfs5+="${nfs5:+,}$n"; fi
            for k in $(seq 1 "$n"); do
                opened=$(( day + (16 + (k * 5 + i) % 7) * 3600 + k * 97 ))
                echo "INSERT INTO history (game, opened, closed, ended) VALUES" \
                     "('$game', $opened, $(( opened + 1800 + k % 3 * 1800 )), 'withdrawn');"
            done
        done
    done
    echo "COMMIT;"
} >"$work/history.sql"
sqlite3 "$work/l.db" <"$work/history.sql" || fail "seeding the history"

kestrun_lobby_start "$checked_lobby" "$work/checked.err" "$work/checked.db" || fail "the checked lobby did not start"
checked_pid=$kestrun_lobby_pid checked_port=$kestrun_lobby_port
kestrun_lobby_start "$lobby" "$work/err" --listen 127.0.0.1:0 --db "$work/l.db" || fail "lobby did not start"
mkdir -p "$(dirname "$screenshot")"
timeout 170 node "$here/pages_test.mjs" "http://127.0.0.1:$kestrun_lobby_port" "$nfs4" "$nfs5" "$screenshot" \
    "http://127.0.0.1:$checked_port"
