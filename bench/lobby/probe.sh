#!/usr/bin/env bash
# The prober's figures (bench/lobby/bench_probe.cpp), release build, loopback only.
# Run it as the other benchmarks: flock /tmp/kestrun-heavy.lock bench/lobby/probe.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target bench_probe >/dev/null
exec "$root/build/native-release/bench/lobby/bench_probe"
