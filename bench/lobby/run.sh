#!/usr/bin/env bash
# Lobby benchmark, lobby next to nginx in the same run, all on loopback:
# - throughput: wrk against "racelist" with 500 races listed, nginx serving the identical
#   body from a file; requests/s and 99th-percentile latency of both at each connection count;
# - attack: while slow-header and idle connections are held from many addresses, a steady
#   client on other addresses asks getip and racelist; its success rate and p50/p99, against
#   the lobby's defaults and nginx configured as an operator would harden it;
# - idle: the lobby's resident memory with 10,000 idle connections open;
# - feeds: /races.json (the same 500 races as JSON) next to the race list, on the same lobby;
# - stats: /stats and /stats.json, from 10,000 races of history over 30 days, next to the
#   race list, on the same lobby;
# - history: how much the database grows for 10,000 races announced through the lobby.
#   BENCH_SECONDS (default 10), BENCH_CONNECTIONS (default "16 256 1024"), BENCH_THREADS (wrk,
#   default 2), BENCH_PARTS (default "throughput attack idle feeds stats history")
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${BENCH_SECONDS:-10}
connection_counts=${BENCH_CONNECTIONS:-16 256 1024}
parts=${BENCH_PARTS:-throughput attack idle feeds stats history}
wrk_threads=${BENCH_THREADS:-2}

for tool in wrk nginx curl python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done

# Every connection is a file descriptor, on both sides.
ulimit -n "$(ulimit -Hn)"
cd "$root"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kestrun-lobby >/dev/null
lobby_bin="$root/build/native-release/lobby/kestrun-lobby"
source "$root/scripts/lib/lobby.sh"

work=$(mktemp -d /tmp/kestrun-bench-XXXXXX)
nginx_pid=""
cleanup() {
    kestrun_lobby_stop || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
stop_servers() {
    kestrun_lobby_stop || echo "bench: the lobby exited with $? when stopped" >&2
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    nginx_pid=""
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

wait_for() {  # $1: command that succeeds once ready
    for _ in $(seq 200); do
        if eval "$1"; then return 0; fi
        sleep 0.05
    done
    echo "bench: timed out waiting for: $1"
    exit 1
}

"$lobby_bin" seed --db "$work/lobby.db" --races 500 --game NFS4 >/dev/null
url_path="/server/server.php?action=racelist&game=NFS4"
files=$(ulimit -n)

start_lobby() {  # $@: options beyond the listening address and the database
    kestrun_lobby_start "$lobby_bin" "$work/lobby.err" --listen 127.0.0.1:0 --db "$work/lobby.db" "$@" ||
        { echo "bench: the lobby did not start"; exit 1; }
    lobby_pid=$kestrun_lobby_pid
    lobby_port=$kestrun_lobby_port
    lobby_url="http://127.0.0.1:$lobby_port$url_path"
}

# nginx answers getip from the peer's address and the race list from a snapshot of the
# lobby's body, at the same path. Hardened: what an operator would add against abuse.
start_nginx() {  # $1: plain or hardened
    local limits=""
    if [ "$1" = hardened ]; then
        limits="limit_conn_zone \$binary_remote_addr zone=peraddr:10m;
    limit_conn peraddr 64;
    client_header_timeout 10s;
    client_body_timeout 10s;
    send_timeout 10s;
    keepalive_timeout 5s;
    large_client_header_buffers 4 8k;"
    fi
    mkdir -p "$work/www" "$work/nginx"
    chmod -R a+rX "$work"
    nginx_port=$(free_port)
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
worker_rlimit_nofile $files;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections $files; }
http {
    access_log /dev/null;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    $limits
    server {
        listen 127.0.0.1:$nginx_port backlog=4096;
        location = /server/server.php {
            default_type text/plain;
            if (\$arg_action = getip) { return 200 "OK\n\$remote_addr\n"; }
            alias $work/www/racelist.txt;
        }
    }
}
CONF
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
    nginx_pid=$!
    nginx_url="http://127.0.0.1:$nginx_port$url_path"
    wait_for "curl -sf '$nginx_url' -o /dev/null"
}

# The body nginx serves is the lobby's, checked byte for byte.
mkdir -p "$work/www"
start_lobby --rate-limit 0
curl -sf "$lobby_url" >"$work/www/racelist.txt"
stop_servers
races=$(sed -n 3p "$work/www/racelist.txt")
bytes=$(wc -c <"$work/www/racelist.txt")

run_wrk() {  # $1: URL, $2: connections; prints "requests/s p99"
    wrk -t"$wrk_threads" -c"$2" -d2s "$1" >/dev/null  # warm-up
    wrk -t"$wrk_threads" -c"$2" -d"${seconds}s" --latency "$1" >"$work/wrk.out"
    local rps p99
    rps=$(awk '/^Requests\/sec:/ {print $2}' "$work/wrk.out")
    p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.out")
    if grep -q 'Non-2xx\|Socket errors' "$work/wrk.out"; then
        grep 'Non-2xx\|Socket errors' "$work/wrk.out" >&2
    fi
    echo "$rps $p99"
}

to_ms() {  # wrk latency (e.g. 1.23ms, 850.00us, 1.02s) in milliseconds
    awk -v v="$1" 'BEGIN {
        n = v + 0
        if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n = n; else if (v ~ /s$/) n *= 1000
        printf "%.3f", n }'
}

compare() {  # $1 $2: name and URL of one side, $3 $4: of the other; one line per connection count
    local connections a_rps a_p99 b_rps b_p99
    for connections in $connection_counts; do
        read -r a_rps a_p99 < <(run_wrk "$2" "$connections")
        read -r b_rps b_p99 < <(run_wrk "$4" "$connections")
        awk -v c="$connections" -v an="$1" -v bn="$3" -v a="$a_rps" -v b="$b_rps" \
            -v ap="$(to_ms "$a_p99")" -v bp="$(to_ms "$b_p99")" 'BEGIN {
            printf "  %5d connections: %s %9.0f req/s p99 %7.2f ms | %s %9.0f req/s p99 %7.2f ms | %.2fx req/s, %.2fx p99\n",
                c, an, a, ap, bn, b, bp, a / b, ap / bp }'
    done
}

echo "racelist with $races races ($bytes bytes), $(nproc) cores, file limit $files"

if [[ " $parts " == *" throughput "* ]]; then
    # One source address: the per-address cap is lifted for this part.
    start_lobby --rate-limit 0 --max-per-address 100000
    start_nginx plain
    cmp -s <(curl -sf "$nginx_url") "$work/www/racelist.txt" || { echo "bench: nginx body differs"; exit 1; }
    echo "throughput: wrk -t$wrk_threads -d${seconds}s"
    compare lobby "$lobby_url" nginx "$nginx_url"
    stop_servers
fi

under_attack() {  # $1: port; prints the steady client's figures while the attack is held
    coproc ATTACK { python3 "$root/bench/lobby/attack.py" hold --port "$1"; }
    read -r _ <&"${ATTACK[0]}"
    python3 "$root/bench/lobby/attack.py" steady --port "$1" --seconds "$seconds"
    exec {ATTACK[1]}>&-
    wait "$ATTACK_PID" 2>/dev/null || true
}

if [[ " $parts " == *" attack "* ]]; then
    echo "attack: 1,000 slow-header connections from 50 addresses and 2,000 idle from 40, held and re-opened;"
    echo "        steady client: 20 requests/s (getip, racelist) from 50 other addresses for ${seconds}s"
    start_lobby
    printf '  %-22s %s\n' "kestrun-lobby defaults" "$(under_attack "$lobby_port")"
    stop_servers
    start_nginx hardened
    printf '  %-22s %s\n' "nginx hardened" "$(under_attack "$nginx_port")"
    stop_servers
fi

if [[ " $parts " == *" idle "* ]]; then
    # The head deadline is lengthened so that the connections stay open while measured.
    start_lobby --head-seconds 600
    rss_before=$(awk '/^VmRSS/ {print $2}' "/proc/$lobby_pid/status")
    coproc HOLD { python3 "$root/bench/lobby/attack.py" idle --port "$lobby_port" --idle 10000 --idle-addrs 200; }
    read -r _ opened <&"${HOLD[0]}"
    sleep 1
    held=$(ss -Htn state established "( sport = :$lobby_port )" | wc -l)
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$lobby_pid/status")
    answer=$(curl -s --interface 127.0.99.1 "http://127.0.0.1:$lobby_port/server/server.php?action=getip")
    exec {HOLD[1]}>&-
    wait "$HOLD_PID" 2>/dev/null || true
    awk -v b="$rss_before" -v r="$rss" -v h="$held" -v a="$(echo "$answer" | tr '\n' ' ')" 'BEGIN {
        printf "idle: %d connections held: lobby resident %.1f MiB (%.1f MiB before), %.1f KiB each; getip meanwhile: %s\n",
            h, r / 1024, b / 1024, (r - b) / h, a }'
    stop_servers
fi

if [[ " $parts " == *" feeds "* ]]; then
    start_lobby --rate-limit 0 --max-per-address 100000
    json_url="http://127.0.0.1:$lobby_port/races.json"
    json_bytes=$(curl -sf "$json_url" | wc -c)
    echo "feeds: /races.json ($json_bytes bytes) next to the race list ($bytes bytes), same lobby"
    compare racelist "$lobby_url" races.json "$json_url"
    stop_servers
fi

if [[ " $parts " == *" stats "* ]]; then
    sqlite3 "$work/lobby.db" "DELETE FROM history;
        WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9999)
        INSERT INTO history (game, opened, closed, ended)
        SELECT CASE i % 3 WHEN 0 THEN 'NFS5' ELSE 'NFS4' END, unixepoch() - i * 259,
               unixepoch() - i * 259 + 1800, 'withdrawn' FROM n"
    start_lobby --rate-limit 0 --max-per-address 100000
    for page in stats stats.json; do
        page_url="http://127.0.0.1:$lobby_port/$page"
        echo "stats: /$page ($(curl -sf "$page_url" | wc -c) bytes, 10,000 races of history) next to the race list ($bytes bytes), same lobby"
        compare racelist "$lobby_url" "$page" "$page_url"
    done
    stop_servers
fi

if [[ " $parts " == *" history "* ]]; then
    db="$work/history.db"
    kestrun_lobby_start "$lobby_bin" "$work/lobby.err" --listen 127.0.0.1:0 --db "$db" --rate-limit 0 ||
        { echo "bench: the lobby did not start"; exit 1; }
    kestrun_lobby_stop
    empty=$(stat -c %s "$db")
    kestrun_lobby_start "$lobby_bin" "$work/lobby.err" --listen 127.0.0.1:0 --db "$db" --rate-limit 0 ||
        { echo "bench: the lobby did not start"; exit 1; }
    # One host announcing again and again: each announcement ends the one before it.
    started=$(date +%s.%N)
    python3 - "$kestrun_lobby_port" 10000 <<'PY'
import http.client, sys
connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
for i in range(int(sys.argv[2])):
    connection.request("GET", f"/server/server.php?action=raceadd&game=NFS{4 + i % 2}"
                              f"&data=name:Race%20{i};ip:2130706433")
    body = connection.getresponse().read()
    if body != b"OK\n":
        sys.exit(f"bench: announcement {i} answered {body!r}")
PY
    took=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    kestrun_lobby_stop
    rows=$(sqlite3 "$db" "SELECT COUNT(*) FROM history")
    awk -v e="$empty" -v f="$(stat -c %s "$db")" -v r="$rows" -v t="$took" 'BEGIN {
        printf "history: %d races announced in %s s; the database grew by %.0f KiB, %.0f bytes a race, %.2f MiB per 10,000 races\n",
            r, t, (f - e) / 1024, (f - e) / r, (f - e) / r * 10000 / 1048576 }'
fi
