#!/usr/bin/env bash
# The 32-bit suites' check on a kernel that runs 32-bit programs: without the 32-bit Wine
# the skip names Wine, not the kernel; with a loader that does not start it is a failure.
# Usage: wine32_skip_test.sh IA32_PROBE
set -euo pipefail
probe=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
ran=0
"$probe" 2>/dev/null || ran=$?
[ "$ran" -eq 32 ] || { echo "skipped: this kernel runs no 32-bit programs"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"

status=0
reason=$(KESTRUN_WINE32_LOADER=$work/absent/wine kestrun_32bit_check "$probe") || status=$?
echo "no loader: $status, $reason"
[ "$status" -eq 77 ] || fail "a missing 32-bit Wine gave status $status, not a skip (77)"
[[ $reason == *"no 32-bit Wine"* && $reason != *kernel* ]] || fail "the reason does not name Wine alone"

printf '#!/bin/sh\necho "cannot start" >&2\nexit 1\n' >"$work/wine"
chmod +x "$work/wine"
status=0
reason=$(KESTRUN_WINE32_LOADER=$work/wine kestrun_32bit_check "$probe") || status=$?
echo "broken loader: $status, $reason"
[ "$status" -eq 1 ] || fail "a 32-bit Wine that does not start gave status $status, not a failure (1)"
