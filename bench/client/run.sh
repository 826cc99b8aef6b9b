#!/usr/bin/env bash
# Race lists of 100, 1,000 and 10,000 races: natively, parse and newest-first order; under
# Wine, the body handed to a game tab until its rows are shown and sorted in a real list
# view, with parsing and formatting, row insertion and sorting measured one by one.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/lib/wine-env.sh

cmake --preset native-release >/dev/null && cmake --build --preset native-release --target bench_race_list_native >/dev/null
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 --target bench_race_list >/dev/null
kestrun_wine_start
work=$(mktemp -d)
cleanup() {
    kestrun_wine_stop
    rm -rf "$work"
}
trap cleanup EXIT

echo "== native (clang, release): parse and sort, microseconds (median of 21)"
build/native-release/bench/client/bench_race_list_native
echo "== Wine (MinGW, release), real list view shown: milliseconds (median of 7)"
# Output goes through a file: Wine may leave helper processes holding a pipe open.
wine build/windows-x64/bench/client/bench_race_list.exe >"$work/wine.txt" 2>&1 </dev/null
tr -d '\r' <"$work/wine.txt"
