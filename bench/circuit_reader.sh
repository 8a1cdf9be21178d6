#!/usr/bin/env bash
# Builds the core in Release and times Circuit::try_parse: MB/s on a 10 MB text of ordinary
# instructions and expanded instructions per second on REPEAT blocks that expand to 10^7
# instructions, each beside a baseline measured in the same run.
#   bench/circuit_reader.sh
# The build directory is $VELKOR_PERF_BUILD (default build-perf at the repository root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELKOR_PERF_BUILD:-$root/build-perf}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON >/dev/null
cmake --build "$build" -j2 --target velkor_perf_circuit_reader >/dev/null
echo "# bench/circuit_reader.sh (Release, $(uname -m), $(date -u +%Y-%m-%d))"
"$build/velkor_perf_circuit_reader"
