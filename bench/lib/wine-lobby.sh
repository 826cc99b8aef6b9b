# Shared by the client benchmarks under Wine: the release lobby on the end-to-end client's
# loopback port with seeded races, a Wine session, and reading a Wine process's memory.
# Source it from the project root after building; then call bench_start_lobby RACES [LOG].
source scripts/lib/wine-env.sh

bench_port=$(sed -n 's/^KESTRUN_E2E_PORT:STRING=//p' build/windows-x64/CMakeCache.txt)
work=$(mktemp -d)
lobby_pid=""
bench_cleanup() {
    if [ -n "$lobby_pid" ]; then kill "$lobby_pid" 2>/dev/null || true; wait "$lobby_pid" 2>/dev/null || true; fi
    kestrun_wine_stop
    rm -rf "$work"
}
trap bench_cleanup EXIT

bench_start_lobby() {  # $1: races per game, $2: where the access log goes (default: nowhere)
    build/native-release/lobby/kestrun-lobby seed --db "$work/lobby.db" --races "$1" >/dev/null
    build/native-release/lobby/kestrun-lobby --listen "127.0.0.1:$bench_port" --db "$work/lobby.db" \
        --rate-limit 0 >"${2:-/dev/null}" 2>"$work/lobby.err" &
    lobby_pid=$!
    for _ in $(seq 1 200); do grep -q 'listening on' "$work/lobby.err" && break; sleep 0.05; done
    grep -q 'listening on' "$work/lobby.err" || { cat "$work/lobby.err" >&2; exit 1; }
    kestrun_wine_start
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
unix_pid() {  # the Wine process whose program is $1
    local p
    for p in $(pgrep -f "$1"); do
        [[ $(tr '\0' '\n' <"/proc/$p/cmdline" 2>/dev/null | head -n 1) == *"$1" ]] && { echo "$p"; return; }
    done
}
# Wine reports no PrivateUsage (0), so the figure is the Wine process's own private pages.
private_kib() { awk '/^Private_(Clean|Dirty)/ { s += $2 } END { print s }' "/proc/$1/smaps_rollup"; }
