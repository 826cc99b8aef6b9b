#!/usr/bin/env bash
# On a kernel that runs 32-bit programs, a missing 32-bit Wine is a skip naming Wine, not
# the kernel, and one that does not start is a failure. Usage: $0 IA32_PROBE
set -uo pipefail
"$1"; [ $? -eq 32 ] || { echo "skipped: this kernel runs no 32-bit programs"; exit 77; }
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
reason=$(KESTRUN_WINE32_LOADER=/nonexistent/wine kestrun_32bit_check "$1"); status=$?
[[ $status -eq 77 && $reason == *"no 32-bit Wine"* && $reason != *kernel* ]] || { echo "FAIL: not a skip naming Wine: $status, $reason"; exit 1; }
reason=$(KESTRUN_WINE32_LOADER=/bin/false kestrun_32bit_check "$1"); status=$?
[ "$status" -eq 1 ] || { echo "FAIL: a 32-bit Wine that does not start is not a failure: $status, $reason"; exit 1; }
