#!/usr/bin/env bash
# Runs one Wine test program under a given time zone and locale. Wine's server keeps the
# values it started with, so this uses a prefix of its own and restarts that prefix's server.
# Usage: run-with-locale.sh TZ LANG CASE program [args...]
set -u
tz=$1 lang=$2 case_name=$3
shift 3
KESTRUN_WINEPREFIX="${WINEPREFIX:-$HOME/.wine}-locale" source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
restart() { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; }
kestrun_wine_prefix
restart
TZ=$tz LANG=$lang LC_ALL=$lang KESTRUN_TIME_CASE=$case_name wine "$@"
status=$?
restart
exit $status
