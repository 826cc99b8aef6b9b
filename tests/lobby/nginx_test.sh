#!/usr/bin/env bash
# A real nginx in front of the lobby, with the site configuration the README gives hosts
# (taken from between its markers, only the ports changed), and the lobby behind it with
# --trusted-proxy 127.0.0.1 --proxy-header X-Real-IP. Players are loopback addresses other
# than 127.0.0.1. One line per check.
# Usage: nginx_test.sh LOBBY_BINARY README
set -euo pipefail
lobby_bin=$1
readme=$2
source "$(dirname "$0")/../../scripts/lib/lobby.sh"
command -v nginx >/dev/null || { echo "FAIL: nginx is missing (scripts/bootstrap installs it)"; exit 1; }

work=$(mktemp -d)
nginx_pid=
cleanup() {
    kestrun_lobby_stop || true
    if [ -n "$nginx_pid" ]; then kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "ok: $*"; }
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
decimal() {  # dotted IPv4 address -> the decimal the protocol carries
    local IFS=. a b c d
    read -r a b c d <<<"$1"
    echo $(((a << 24) | (b << 16) | (c << 8) | d))
}

# Lowered so that counting the proxy instead of the players would refuse some of 60.
kestrun_lobby_start "$lobby_bin" "$work/lobby.err" --listen 127.0.0.1:0 --db "$work/lobby.db" \
    --trusted-proxy 127.0.0.1 --proxy-header X-Real-IP --rate-limit 20 --max-per-address 4 ||
    fail "the lobby did not start"
lobby=http://127.0.0.1:$kestrun_lobby_port

site=$(sed -n '/^<!-- nginx site begin/,/^<!-- nginx site end/p' "$readme" | sed '1d;$d' | grep -v '^```')
grep -q 'listen 80;' <<<"$site" && grep -q 'http://127.0.0.1:8080;' <<<"$site" ||
    fail "README.md has no nginx site between its markers with 'listen 80;' and 127.0.0.1:8080"
port=$(free_port)
site=${site/listen 80;/listen 127.0.0.1:$port;}
site=${site//http:\/\/127.0.0.1:8080;/http://127.0.0.1:$kestrun_lobby_port;}
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
$site
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
proxy=http://127.0.0.1:$port
for _ in $(seq 100); do
    curl -sf -o /dev/null "$proxy/" && break
    kill -0 "$nginx_pid" 2>/dev/null || { cat "$work/nginx/error.log"; fail "nginx exited"; }
    sleep 0.05
done

as() {  # $1: the player's address, $2: URL; prints the body
    curl -sS --max-time 10 --interface "$1" "$2"
}
script=/server/server.php

body=$(as 127.0.0.7 "$proxy$script?action=raceadd&game=NFS4&data=name:Seven;ip:$(decimal 127.0.0.7)")
[ "$body" = OK ] || fail "raceadd through nginx from 127.0.0.7 answered: $body"
host=$(as 127.0.0.8 "$proxy/races.json" |
    python3 -c 'import json,sys; print(*[r["host"] for r in json.load(sys.stdin)["races"]["NFS4"] if r["name"] == "Seven"])')
[ "$host" = 127.0.0.7 ] || fail "the race announced through nginx from 127.0.0.7 is listed with host '$host'"
as 127.0.0.8 "$proxy$script?action=racelist&game=NFS4" | grep "^Seven,$(decimal 127.0.0.7)," >/dev/null ||
    fail "the race list through nginx does not carry 127.0.0.7"
pass "a race announced through nginx from 127.0.0.7 is listed with host 127.0.0.7"

body=$(as 127.0.0.9 "$proxy$script?action=getip")
[ "$body" = $'OK\n127.0.0.9' ] || fail "getip through nginx from 127.0.0.9 answered: $body"
pass "getip through nginx from 127.0.0.9 answers 127.0.0.9"

body=$(curl -sS --max-time 10 --interface 127.0.0.10 -H 'X-Real-IP: 127.0.0.66' \
    "$lobby$script?action=raceadd&game=NFS4&data=name:Forged;ip:$(decimal 127.0.0.66)")
[[ $body == *"which the lobby sees as 127.0.0.10."* ]] ||
    fail "127.0.0.10 straight to the lobby with X-Real-IP: 127.0.0.66 announcing for 127.0.0.66 got: $body"
body=$(curl -sS --max-time 10 --interface 127.0.0.10 -H 'X-Real-IP: 127.0.0.66' "$proxy$script?action=getip")
[ "$body" = $'OK\n127.0.0.10' ] || fail "X-Real-IP: 127.0.0.66 sent to nginx by 127.0.0.10 made getip answer: $body"
pass "X-Real-IP from a client is not believed, straight to the lobby or passed to nginx"

# 60 players, each with a connection to nginx holding all of its request but the last line
# break, then all released at once.
python3 - "$port" "$(decimal 127.0.1.0)" <<'PY' || fail "not every one of 60 players through nginx at once was served"
import socket, sys, threading
port, base = int(sys.argv[1]), int(sys.argv[2])
players = 60
ready = threading.Barrier(players)
answers = [None] * players
def player(i):
    address = "127.0.1.%d" % (i + 1)
    with socket.create_connection(("127.0.0.1", port), timeout=20, source_address=(address, 0)) as s:
        s.sendall(("GET /server/server.php?action=raceadd&game=NFS5&data=name:P%d;ip:%d HTTP/1.1\r\n"
                   "Host: lobby\r\nConnection: close\r\n" % (i, base + i + 1)).encode())
        ready.wait()
        s.sendall(b"\r\n")
        data = b""
        while chunk := s.recv(65536):
            data += chunk
        answers[i] = data.split(b"\r\n\r\n", 1)[-1]
threads = [threading.Thread(target=player, args=(i,)) for i in range(players)]
for t in threads: t.start()
for t in threads: t.join()
refused = [(i, a) for i, a in enumerate(answers) if a != b"OK\n"]
for i, a in refused[:5]:
    print("player 127.0.1.%d got %r" % (i + 1, a))
sys.exit(1 if refused else 0)
PY
listed=$(as 127.0.0.8 "$proxy$script?action=racelist&game=NFS5" | grep -c '^P[0-9]*,' || true)
[ "$listed" -eq 60 ] || fail "60 players announced through nginx at once; $listed races are listed"
pass "60 players through nginx at once are all served and listed (cap 4 per address, 20 requests a minute)"

# The limit itself is live behind the proxy: one player's 21st request in a minute is refused.
for i in $(seq 20); do
    body=$(as 127.0.0.11 "$proxy$script?action=getip")
    [ "$body" = $'OK\n127.0.0.11' ] || fail "request $i of 20 from 127.0.0.11 answered: $body"
done
body=$(as 127.0.0.11 "$proxy$script?action=getip")
[[ $body != OK* ]] || fail "the 21st request in a minute from 127.0.0.11 through nginx was served"
body=$(as 127.0.0.12 "$proxy$script?action=getip")
[ "$body" = $'OK\n127.0.0.12' ] || fail "127.0.0.12 after 127.0.0.11 was limited got: $body"
pass "one player's 21st request in a minute through nginx is refused, another player's is served"

kill -QUIT "$nginx_pid"
wait "$nginx_pid" || fail "nginx did not stop cleanly"
nginx_pid=
kestrun_lobby_stop || fail "the lobby did not stop cleanly"
echo PASS
