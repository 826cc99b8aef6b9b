#!/usr/bin/env bash
# Cold start of the client under Wine, from process start to its first race list on
# screen, and its private memory once the list is shown, next to two floors measured in the
# same run: an empty Win32 dialog (what Wine costs any dialog program) and a program doing
# the same platform work in the plainest way (tab control, list view, three WinINet roots,
# one asynchronous race-list request, 20 rows). Where kestrun's private memory goes beyond
# the same-work floor's, by mapping (module or anonymous memory); the size of kestrun.exe.
# The client is the end-to-end build (same sources, its lobby address on a loopback port).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
runs=${RUNS:-5}

cmake --preset native-release >/dev/null && cmake --build --preset native-release --target kestrun-lobby >/dev/null
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target kestrun kestrun_e2e bench_floor bench_floor_work startup_probe >/dev/null
source bench/lib/wine-lobby.sh
bin=build/windows-x64
client=$bin/tests/e2e/kestrun_e2e.exe
floor=$bin/bench/startup/bench_floor.exe
work_floor=$bin/bench/startup/bench_floor_work.exe
probe=$bin/bench/startup/startup_probe.exe
bench_start_lobby 20

measure() {  # $1: exe, $2: caption, $3: list|window, $4: file; appends "ms private_kib"
    local exe=$1 name line ms=0 pid priv
    name=$(basename "$exe")
    coproc PROBE { wine "$probe" run "$(kestrun_windows_path "$root/$exe")" "$2" "$3" 2>/dev/null; }
    while IFS= read -r -u "${PROBE[0]}" line; do
        line=${line%$'\r'}
        case $line in
        shown_ms*) ms=${line#shown_ms } ;;
        ready) break ;;
        error*) echo "$name: $line" >&2; return 1 ;;
        esac
    done
    pid=$(unix_pid "$name")
    priv=$(private_kib "$pid")
    cp "/proc/$pid/smaps" "$work/$4.smaps"
    echo done >&"${PROBE[1]}"
    wait "$PROBE_PID" || true
    echo "$ms $priv" >>"$work/$4"
}

wine "$probe" run "$(kestrun_windows_path "$root/$floor")" Floor window </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 "$runs"); do
    measure "$floor" Floor window floor.txt
    measure "$work_floor" FloorWork list work.txt
    measure "$client" Kestrun list client.txt
done

median() {  # $1: file, $2: column
    awk -v c="$2" '{ print $c }' "$1" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
first() { awk -v c="$2" 'NR == 1 { print $c }' "$1"; }
fm=$(median "$work/floor.txt" 1); cm=$(median "$work/client.txt" 1)
fp=$(median "$work/floor.txt" 2); cp=$(median "$work/client.txt" 2)
wm=$(median "$work/work.txt" 1); wp=$(median "$work/work.txt" 2)
echo "start-up under Wine, $runs runs each (median; first run in brackets)"
printf '%-48s %8.0f ms  (%.0f)\n' "floor: empty dialog window shown" "$fm" "$(first "$work/floor.txt" 1)"
printf '%-48s %8.0f ms  (%.0f)\n' "same-work floor: first race list (20 races) shown" "$wm" "$(first "$work/work.txt" 1)"
printf '%-48s %8.0f ms  (%.0f)\n' "kestrun: first race list (20 races) shown" "$cm" "$(first "$work/client.txt" 1)"
awk -v a="$cm" -v b="$fm" -v w="$wm" 'BEGIN { printf "ratio kestrun/empty floor: %.2f, kestrun/same-work floor: %.2f\n", a / b, a / w }'
echo "private memory once shown (Private_Clean + Private_Dirty of the Wine process)"
printf '%-48s %8d KiB\n' "floor" "$fp"
printf '%-48s %8d KiB\n' "same-work floor" "$wp"
printf '%-48s %8d KiB\n' "kestrun" "$cp"
awk -v a="$cp" -v b="$fp" -v w="$wp" 'BEGIN { printf "ratio kestrun/empty floor: %.2f, kestrun/same-work floor: %.2f\n", a / b, a / w }'
echo "where kestrun's private memory differs from the same-work floor's (last run, KiB, by mapping)"
python3 "$root/bench/startup/smaps_diff.py" "$work/work.txt.smaps" "$work/client.txt.smaps"
printf 'size of kestrun.exe: %d bytes\n' "$(stat -c %s "$bin/client/kestrun.exe")"
