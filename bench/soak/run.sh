#!/usr/bin/env bash
# A soak: the client under Wine refreshes a 500-race list REFRESHES times (default 10,000),
# each a mouse click on "Refresh List" as in the end-to-end tests, against the real lobby on
# loopback. Before and after (after WARMUP refreshes first, default 50): private memory of
# the Wine process, handle count, GDI objects, USER objects and windows. Then the same
# requests from the plainest WinINet loop, whose private memory shows what Wine's WinINet
# itself keeps per request.
#   bench/soak/run.sh [REFRESHES [WARMUP]]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
refreshes=${1:-10000}
warmup=${2:-50}

cmake --preset native-release >/dev/null && cmake --build --preset native-release --target kestrun-lobby >/dev/null
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target kestrun_e2e soak_driver >/dev/null
source bench/lib/wine-lobby.sh
client=build/windows-x64/tests/e2e/kestrun_e2e.exe
driver=build/windows-x64/bench/soak/soak_driver.exe
bench_start_lobby 500 "$work/access.log"

echo "soak under Wine: $refreshes refreshes of a 500-race list after $warmup to warm up"
coproc DRIVER { wine "$driver" "$(kestrun_windows_path "$root/$client")" \
    "$(kestrun_windows_path "$work/access.log")" \
    "$refreshes" "$warmup" 2>"${SOAK_DRIVER_ERR:-$work/driver.err}"; }
driver_pid=$DRIVER_PID
declare -A figures
while IFS= read -r -u "${DRIVER[0]}" line; do
    line=${line%$'\r'}
    case $line in
    before*|after*) figures[${line%% *}]=${line#* } ;;
    measure*)
        phase=${line#measure }
        figures[$phase]+=" private_kib $(private_kib "$(unix_pid "${client##*/}")")"
        echo go >&"${DRIVER[1]}" ;;
    error*) echo "$line" >&2; cat "$work/driver.err" >&2; exit 1 ;;
    *) echo "  $line" ;;
    esac
done
wait "$driver_pid" || true
[ -n "${figures[after]:-}" ] || { echo "the soak did not finish" >&2; cat "$work/driver.err" >&2; exit 1; }
printf '%s\n%s\n' "before ${figures[before]}" "after ${figures[after]}" | awk '
    { for (i = 2; i < NF; i += 2) { v[$1, $i] = $(i + 1); if ($1 == "before") k[++n] = $i } }
    END {
        printf "  %-14s %10s %10s %8s\n", "", "before", "after", "change"
        for (j = 1; j <= n; j++) {
            bb = v["before", k[j]]; aa = v["after", k[j]]
            printf "  %-14s %10s %10s %7.2f%%\n", k[j], bb, aa, ((bb > 0) ? 100 * (aa - bb) / bb : 0)
        }
    }'
echo "  racelist requests the lobby answered: $(grep -c 'action=racelist' "$work/access.log")"

echo "the same requests from the plainest asynchronous WinINet loop (no window, no list)"
loop=build/windows-x64/bench/soak/wininet_loop.exe
coproc LOOP { wine "$loop" "http://127.0.0.1:$bench_port/server/server.php?action=racelist&game=NFS4" \
    "$refreshes" "$warmup" 2>/dev/null; }
loop_pid=$LOOP_PID
loop_before="" loop_after=""
while IFS= read -r -u "${LOOP[0]}" line; do
    line=${line%$'\r'}
    case $line in
    "measure before") loop_before=$(private_kib "$(unix_pid "${loop##*/}")"); echo go >&"${LOOP[1]}" ;;
    "measure after") loop_after=$(private_kib "$(unix_pid "${loop##*/}")"); echo go >&"${LOOP[1]}" ;;
    error*) echo "$line" >&2; exit 1 ;;
    esac
done
wait "$loop_pid" || true
awk -v b="$loop_before" -v a="$loop_after" \
    'BEGIN { printf "  %-14s %10s %10s %7.2f%%\n", "private_kib", b, a, ((b > 0) ? 100 * (a - b) / b : 0) }'
