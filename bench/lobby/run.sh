#!/usr/bin/env bash
# Lobby benchmark, lobby next to nginx in the same run, all on loopback. Each point is measured
# in BENCH_RUNS rounds (default 5), the servers taking turns within a round so that they share
# the machine's noise; each round's figures are printed, then every ratio to the last server
# named (nginx) as minimum, median and maximum.
# - throughput: wrk against "racelist" with 500 races listed, nginx serving the identical
#   body from a file; requests/s and 99th-percentile latency at each connection count;
# - attack: while slow-header and idle connections are held from many addresses, a steady
#   client on other addresses asks getip and racelist; its success rate and p50/p99, against
#   the lobby's defaults and nginx configured as an operator would harden it;
# - slowread: the same steady client while 200 connections, one per address, each pipeline
#   110 requests for the website and the race list with a 4 KiB receive buffer and never
#   read; with the CPU seconds each server spent over the attack and its memory per reader;
# - idle: the lobby's resident memory with 10,000 idle connections open;
# - feeds: /races.json (the same 500 races as JSON) next to the race list, on the same lobby;
# - stats: /stats and /stats.json, from 10,000 races of history over 30 days, next to the
#   race list, on the same lobby;
# - history: how much the database grows for 10,000 races announced through the lobby.
#   BENCH_SECONDS (default 10), BENCH_ATTACK_SECONDS (default 20), BENCH_CONNECTIONS
#   (default "16 256 1024"), BENCH_THREADS (wrk, default 2), BENCH_PARTS (default "throughput
#   attack slowread idle feeds stats history"), BENCH_LOBBY: the lobbies to measure as
#   "NAME=BINARY ..." (default: lobby=this tree's release build, built first); the parts
#   that measure one lobby take the last.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${BENCH_SECONDS:-10}
attack_seconds=${BENCH_ATTACK_SECONDS:-20}
runs=${BENCH_RUNS:-5}
connection_counts=${BENCH_CONNECTIONS:-16 256 1024}
parts=${BENCH_PARTS:-throughput attack slowread idle feeds stats history}
wrk_threads=${BENCH_THREADS:-2}

for tool in wrk nginx curl python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done

# Every connection is a file descriptor, on both sides.
ulimit -n "$(ulimit -Hn)"
cd "$root"
if [ -z "${BENCH_LOBBY:-}" ]; then
    cmake --preset native-release >/dev/null
    cmake --build --preset native-release --target kestrun-lobby >/dev/null
    BENCH_LOBBY="lobby=$root/build/native-release/lobby/kestrun-lobby"
fi
declare -A lobby_bins
lobby_names=()
for named in $BENCH_LOBBY; do
    [ -x "${named#*=}" ] || { echo "bench: ${named#*=} is not a program"; exit 1; }
    lobby_names+=("${named%%=*}")
    lobby_bins[${named%%=*}]=${named#*=}
done
lobby_bin=${lobby_bins[${lobby_names[-1]}]}
source "$root/scripts/lib/lobby.sh"

work=$(mktemp -d /tmp/kestrun-bench-XXXXXX)
nginx_pid=""
stop_lobbies() {
    local pid rc=0
    for pid in "${lobby_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || rc=$?
    done
    lobby_pids=()
    kestrun_lobby_pid=""
    return "$rc"
}
cleanup() {
    stop_lobbies || true
    kestrun_lobby_stop || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
stop_servers() {
    stop_lobbies || echo "bench: a lobby exited with $? when stopped" >&2
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
    start_named_lobby "${lobby_names[-1]}" "$@"
}

start_named_lobby() {  # $1: name in BENCH_LOBBY, then options; each has a database of its own
    local name=$1
    shift
    [ -f "$work/lobby-$name.db" ] || cp "$work/lobby.db" "$work/lobby-$name.db"
    kestrun_lobby_start "${lobby_bins[$name]}" "$work/lobby.err" --listen 127.0.0.1:0 \
        --db "$work/lobby-$name.db" "$@" ||
        { echo "bench: the lobby did not start"; exit 1; }
    lobby_pid=$kestrun_lobby_pid
    lobby_port=$kestrun_lobby_port
    lobby_url="http://127.0.0.1:$lobby_port$url_path"
    lobby_pids+=("$lobby_pid")
}
lobby_pids=()

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

load() { cut -d' ' -f1 /proc/loadavg; }

# $1: the figures' names, comma-separated; $2: lines "ROUND SERVER FIGURE...", the reference
# server last in each round. Prints each server's figures and each ratio to the reference as
# minimum / median / maximum over the rounds.
spread() {
    python3 - "$1" "$2" <<'PY'
import statistics, sys
fields = sys.argv[1].split(",")
rows = [line.split() for line in open(sys.argv[2]) if line.strip()]
names = list(dict.fromkeys(row[1] for row in rows))
figures = {(row[0], row[1]): [float(v) for v in row[2:]] for row in rows}
rounds = list(dict.fromkeys(row[0] for row in rows))
reference = names[-1]
def mmm(values):
    return " / ".join(f"{v:.0f}" if abs(v) >= 100 else f"{v:.2f}"
                      for v in (min(values), statistics.median(values), max(values)))
for name in names:
    print(f"    {name + ':':<18} " + ", ".join(
        f"{field} {mmm([figures[r, name][i] for r in rounds])}" for i, field in enumerate(fields)))
for name in names[:-1]:
    print(f"    {name + '/' + reference + ':':<18} " + ", ".join(
        f"{field} {mmm([figures[r, name][i] / figures[r, reference][i] for r in rounds])}x"
        for i, field in enumerate(fields) if all(figures[r, reference][i] > 0 for r in rounds)))
print(f"    (minimum / median / maximum of {len(rounds)} rounds)")
PY
}

compare() {  # pairs of name and URL, the reference last; they take turns in each round
    local -a names=() urls=()
    while (($#)); do names+=("$1"); urls+=("$2"); shift 2; done
    local connections round i rps p99 line
    for connections in $connection_counts; do
        echo "  $connections connections:"
        : >"$work/rounds"
        for round in $(seq "$runs"); do
            line="    round $round"
            for i in "${!names[@]}"; do
                read -r rps p99 < <(run_wrk "${urls[$i]}" "$connections")
                p99=$(to_ms "$p99")
                echo "$round ${names[$i]} $rps $p99" >>"$work/rounds"
                line+=$(printf ' | %s %.0f req/s p99 %.2f ms' "${names[$i]}" "$rps" "$p99")
            done
            echo "$line | load $(load)"
        done
        spread "req/s,p99 ms" "$work/rounds"
    done
}

echo "racelist with $races races ($bytes bytes), $(nproc) cores, file limit $files, $runs rounds a point, load $(load)"

if [[ " $parts " == *" throughput "* ]]; then
    # One source address: the per-address cap is lifted for this part.
    pairs=()
    for name in "${lobby_names[@]}"; do
        start_named_lobby "$name" --rate-limit 0 --max-per-address 100000
        pairs+=("$name" "$lobby_url")
    done
    start_nginx plain
    cmp -s <(curl -sf "$nginx_url") "$work/www/racelist.txt" || { echo "bench: nginx body differs"; exit 1; }
    echo "throughput: wrk -t$wrk_threads -d${seconds}s"
    compare "${pairs[@]}" nginx "$nginx_url"
    stop_servers
fi

cpu_ticks() {  # $1: a server's PID; its CPU time and its children's (nginx's workers), in ticks
    local pid total=0
    for pid in "$1" $(pgrep -P "$1"); do
        total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat")))
    done
    echo "$total"
}

resident_kib() {  # $1: a server's PID; its resident memory and its children's
    local pid total=0
    for pid in "$1" $(pgrep -P "$1"); do
        total=$((total + $(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")))
    done
    echo "$total"
}

# $1: attack.py's attack (hold or slowread), $2 $3: the server's PID and port. Prints the
# steady client's p99 and share answered, the server's CPU seconds from the attack's start to
# the steady client's end, how much its resident memory grew meanwhile and what its sockets
# hold unread by the clients at the end (the kernel's memory for them), in KiB.
under_attack() {
    local cpu rss steady queued
    cpu=$(cpu_ticks "$2")
    rss=$(resident_kib "$2")
    coproc ATTACK { python3 "$root/bench/lobby/attack.py" "$1" --port "$3"; }
    read -r _ <&"${ATTACK[0]}"
    steady=$(python3 "$root/bench/lobby/attack.py" steady --port "$3" --seconds "$attack_seconds")
    cpu=$(($(cpu_ticks "$2") - cpu))
    rss=$(($(resident_kib "$2") - rss))
    queued=$(ss -Htn state established "( sport = :$3 )" | awk '{ q += $2 } END { print int(q / 1024) }')
    exec {ATTACK[1]}>&-
    wait "$ATTACK_PID" 2>/dev/null || true
    echo "$steady" | awk -v c="$cpu" -v hz="$(getconf CLK_TCK)" -v m="$rss" -v q="$queued" \
        '{ sub("%", "", $2); printf "%s %s %.2f %d %d\n", $7, $2, c / hz, m, q }'
}

attack_rounds() {  # $1: attack.py's attack; $2: connections it holds
    local round name pid port p99 answered cpu grown queued line
    : >"$work/rounds"
    for round in $(seq "$runs"); do
        line="  round $round"
        for name in "${lobby_names[@]}" nginx; do
            if [ "$name" = nginx ]; then
                start_nginx hardened
                pid=$nginx_pid port=$nginx_port
            else
                start_named_lobby "$name"
                pid=$lobby_pid port=$lobby_port
            fi
            read -r p99 answered cpu grown queued < <(under_attack "$1" "$pid" "$port")
            stop_servers
            echo "$round $name $p99 $cpu $answered $grown $queued" >>"$work/rounds"
            line+=$(printf ' | %s p99 %.1f ms, %s%% answered, CPU %.2f s, +%d KiB resident, %d KiB queued (%.1f KiB a connection)' \
                "$name" "$p99" "$answered" "$cpu" "$grown" "$queued" \
                "$(awk -v g="$grown" -v q="$queued" -v n="$2" 'BEGIN { print (g + q) / n }')")
        done
        echo "$line | load $(load)"
    done
    spread "p99 ms,CPU s,answered %,grown KiB,queued KiB" "$work/rounds"
}

if [[ " $parts " == *" attack "* ]]; then
    echo "attack: 1,000 slow-header connections from 50 addresses and 2,000 idle from 40, held and re-opened;"
    echo "        steady client: 20 requests/s (getip, racelist) from 50 other addresses for ${attack_seconds}s;"
    echo "        the lobby's defaults, nginx hardened"
    attack_rounds hold 3000
fi

if [[ " $parts " == *" slowread "* ]]; then
    echo "slowread: 200 connections, one an address, each pipelining 110 requests (website, racelist)"
    echo "        with a 4 KiB receive buffer and never reading; the same steady client for ${attack_seconds}s;"
    echo "        the lobby's defaults, nginx hardened"
    attack_rounds slowread 200
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
    db="$work/lobby-${lobby_names[-1]}.db"
    [ -f "$db" ] || cp "$work/lobby.db" "$db"
    sqlite3 "$db" "DELETE FROM history;
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
