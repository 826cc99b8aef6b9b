# Shared by the project's scripts: start a kestrun-lobby and wait until it listens.
# Source it, then:
#   kestrun_lobby_start BINARY ERRLOG [OPTIONS...]   (standard output goes to $kestrun_lobby_out)
# sets kestrun_lobby_pid and kestrun_lobby_port (the port it reports, so --listen HOST:0 works);
# returns 1, with the log on standard error, when it exits or does not listen within 20 s.
#   kestrun_lobby_stop                               SIGTERM, wait; returns the lobby's exit code
# Both hold under `set -e` in the caller: a lobby that is already gone is no error here.
kestrun_lobby_pid=""
kestrun_lobby_port=""
kestrun_lobby_out=${kestrun_lobby_out:-/dev/null}

kestrun_lobby_start() {
    local binary=$1 errlog=$2 _
    shift 2
    # Emptied here, not by the child's redirection: that may come after the first look below,
    # which would then read the port of a lobby started before with the same log.
    : >"$errlog"
    "$binary" "$@" >"$kestrun_lobby_out" 2>>"$errlog" &
    kestrun_lobby_pid=$!
    kestrun_lobby_port=""
    for _ in $(seq 400); do
        kestrun_lobby_port=$(sed -n 's/^kestrun-lobby listening on .*:\([0-9]*\)$/\1/p' "$errlog" | head -n 1)
        [ -n "$kestrun_lobby_port" ] && return 0
        kill -0 "$kestrun_lobby_pid" 2>/dev/null || break
        sleep 0.05
    done
    cat "$errlog" >&2
    { kill "$kestrun_lobby_pid" && wait "$kestrun_lobby_pid"; } 2>/dev/null || true
    kestrun_lobby_pid=""
    return 1
}

kestrun_lobby_stop() {
    [ -n "$kestrun_lobby_pid" ] || return 0
    local rc=0
    kill -TERM "$kestrun_lobby_pid" 2>/dev/null || true
    wait "$kestrun_lobby_pid" 2>/dev/null || rc=$?
    kestrun_lobby_pid=""
    return "$rc"
}
