# Shared by the client benchmarks under Wine: the release lobby on the end-to-end client's
# loopback port with seeded races, a Wine session, and reading a Wine process's memory.
# Source it from the project root after building; then call bench_start_lobby RACES [LOG].
source scripts/lib/wine-env.sh
source scripts/lib/lobby.sh

bench_port=$(sed -n 's/^KESTRUN_E2E_PORT:STRING=//p' build/windows-x64/CMakeCache.txt)
work=$(mktemp -d)
bench_cleanup() {
    kestrun_lobby_stop || true
    kestrun_wine_stop
    rm -rf "$work"
}
trap bench_cleanup EXIT

bench_start_lobby() {  # $1: races per game, $2: where the access log goes (default: nowhere)
    build/native-release/lobby/kestrun-lobby seed --db "$work/lobby.db" --races "$1" >/dev/null
    kestrun_lobby_out=${2:-/dev/null} \
        kestrun_lobby_start build/native-release/lobby/kestrun-lobby "$work/lobby.err" \
        --listen "127.0.0.1:$bench_port" --db "$work/lobby.db" --rate-limit 0 || exit 1
    kestrun_wine_start
}

unix_pid() {  # the Wine process whose program is $1
    local pids
    mapfile -t pids < <(kestrun_wine_pids "$1")
    echo "${pids[0]:-}"
}
# Wine reports no PrivateUsage (0), so the figure is the Wine process's own private pages.
private_kib() { awk '/^Private_(Clean|Dirty)/ { s += $2 } END { print s }' "/proc/$1/smaps_rollup"; }
