#!/usr/bin/env bash
# Lobby benchmark: wrk against "racelist" with 500 races listed, and, in the same run, nginx
# serving the identical body from a static file on another loopback port. Prints requests/s
# and 99th-percentile latency for both, and the ratios.
#   BENCH_SECONDS (default 10), BENCH_CONNECTIONS (default 16), BENCH_THREADS (wrk, default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${BENCH_SECONDS:-10}
connections=${BENCH_CONNECTIONS:-16}
wrk_threads=${BENCH_THREADS:-2}

for tool in wrk nginx curl python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done

cd "$root"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kestrun-lobby >/dev/null
lobby_bin="$root/build/native-release/lobby/kestrun-lobby"

work=$(mktemp -d /tmp/kestrun-bench-XXXXXX)
lobby_pid=""
nginx_pid=""
cleanup() {
    [ -n "$lobby_pid" ] && kill "$lobby_pid" 2>/dev/null && wait "$lobby_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

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

# The lobby, with 500 seeded races; its access log goes where nginx's goes.
"$lobby_bin" seed --db "$work/lobby.db" --races 500 --game NFS4 >/dev/null
"$lobby_bin" --listen 127.0.0.1:0 --db "$work/lobby.db" --rate-limit 0 \
    >/dev/null 2>"$work/lobby.err" &
lobby_pid=$!
wait_for "grep -q 'listening on' '$work/lobby.err'"
lobby_port=$(sed -n 's/^kestrun-lobby listening on .*:\([0-9]*\)$/\1/p' "$work/lobby.err")
url_path="/server/server.php?action=racelist&game=NFS4"
lobby_url="http://127.0.0.1:$lobby_port$url_path"

# nginx serves one snapshot of that body, at the same path, from a file.
mkdir -p "$work/www" "$work/nginx"
curl -sf "$lobby_url" >"$work/www/racelist.txt"
chmod -R a+rX "$work"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log /dev/null;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    server {
        listen 127.0.0.1:$nginx_port;
        location = /server/server.php {
            alias $work/www/racelist.txt;
            default_type text/plain;
        }
    }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
nginx_pid=$!
nginx_url="http://127.0.0.1:$nginx_port$url_path"
wait_for "curl -sf '$nginx_url' -o /dev/null"
cmp -s <(curl -sf "$nginx_url") "$work/www/racelist.txt" || { echo "bench: nginx body differs"; exit 1; }

races=$(sed -n 3p "$work/www/racelist.txt")
bytes=$(wc -c <"$work/www/racelist.txt")

run_wrk() {  # $1: URL; prints "requests/s p99"
    wrk -t"$wrk_threads" -c"$connections" -d2s "$1" >/dev/null  # warm-up
    wrk -t"$wrk_threads" -c"$connections" -d"${seconds}s" --latency "$1" >"$work/wrk.out"
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

read -r lobby_rps lobby_p99 < <(run_wrk "$lobby_url")
read -r nginx_rps nginx_p99 < <(run_wrk "$nginx_url")

echo "racelist with $races races ($bytes bytes), wrk -t$wrk_threads -c$connections -d${seconds}s, $(nproc) cores"
printf '%-14s %12s req/s   p99 %s\n' "kestrun-lobby" "$lobby_rps" "$lobby_p99"
printf '%-14s %12s req/s   p99 %s\n' "nginx" "$nginx_rps" "$nginx_p99"
awk -v l="$lobby_rps" -v n="$nginx_rps" -v lp="$(to_ms "$lobby_p99")" -v np="$(to_ms "$nginx_p99")" \
    'BEGIN { printf "lobby/nginx: %.2f of the requests/s, %.2f times the p99 latency\n", l / n, lp / np }'
