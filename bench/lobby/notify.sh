#!/usr/bin/env bash
# The cost of three webhooks on the announce path (bench/lobby/notify.py), release build.
# Run it as the other benchmarks: flock /tmp/kestrun-heavy.lock bench/lobby/notify.sh [RACES]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target kestrun-lobby >/dev/null
exec python3 "$root/bench/lobby/notify.py" "$root/build/native-release/lobby/kestrun-lobby" "$@"
