#!/usr/bin/env bash
# Round trips of 200 sequential "getip" requests through the client's request engine under
# Wine, next to a bare asynchronous WinINet loop (the floor) and curl making the same 200
# requests to the same lobby in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
count=${COUNT:-200}
source scripts/lib/wine-env.sh
source scripts/lib/lobby.sh

cmake --preset native-release >/dev/null && cmake --build --preset native-release --target kestrun-lobby >/dev/null
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 --target bench_getip bench_getip_bare >/dev/null
kestrun_wine_start

work=$(mktemp -d)
cleanup() {
    kestrun_lobby_stop || true
    kestrun_wine_stop
    rm -rf "$work"
}
trap cleanup EXIT

kestrun_lobby_start build/native-release/lobby/kestrun-lobby "$work/lobby.err" \
    --listen 127.0.0.1:0 --db :memory: --rate-limit 0 || { echo "lobby did not start" >&2; exit 1; }
url="http://127.0.0.1:$kestrun_lobby_port/server/server.php"

# One warm-up request each, so neither side pays its first-connection costs in the figures.
wine build/windows-x64/bench/engine/bench_getip.exe "$url" 1 >/dev/null
wine build/windows-x64/bench/engine/bench_getip.exe "$url" "$count" | tr -d '\r' >"$work/engine.txt"
wine build/windows-x64/bench/engine/bench_getip_bare.exe "$url" 1 >/dev/null
wine build/windows-x64/bench/engine/bench_getip_bare.exe "$url" "$count" | tr -d '\r' >"$work/bare.txt"
curl -s -o /dev/null "$url?action=getip"
urls=()
for _ in $(seq 1 "$count"); do urls+=("$url?action=getip" -o /dev/null); done
curl -s -w '%{time_total}\n' "${urls[@]}" | awk '{ printf "%d\n", $1 * 1000000 }' >"$work/curl.txt"

stats() {  # median and 99th percentile, microseconds
    sort -n "$1" | awk '{ v[NR] = $1 } END { m = v[int((NR + 1) / 2)]; p = v[int(NR * 0.99 + 0.999)]; print m, p }'
}
read -r em ep < <(stats "$work/engine.txt")
read -r bm bp < <(stats "$work/bare.txt")
read -r cm cp < <(stats "$work/curl.txt")
echo "getip round trip, $count sequential requests (microseconds)"
printf '%-32s median %8d   p99 %8d\n' "ServerRequest under Wine" "$em" "$ep"
printf '%-32s median %8d   p99 %8d\n' "bare WinINet loop under Wine" "$bm" "$bp"
printf '%-32s median %8d   p99 %8d\n' "curl (native)" "$cm" "$cp"
awk -v a="$em" -v b="$bm" -v c="$ep" -v d="$bp" 'BEGIN { printf "ratio engine/bare WinINet: median %.2f, p99 %.2f\n", a / b, c / d }'
awk -v a="$em" -v b="$cm" -v c="$ep" -v d="$cp" 'BEGIN { printf "ratio engine/curl: median %.2f, p99 %.2f\n", a / b, c / d }'
