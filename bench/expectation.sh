#!/usr/bin/env bash
# Builds the core in Release and times pauli_product_expectation and measure_x on states with
# 100, 1000 and 5000 path variables and dense phase polynomials (T on every qubit and CCZs on
# random triples after random CNOT mixing). Extra arguments replace the list of sizes.
#   bench/expectation.sh [num_vars ...]
# The build directory is $VELKOR_PERF_BUILD (default build-perf at the repository root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELKOR_PERF_BUILD:-$root/build-perf}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON >/dev/null
cmake --build "$build" -j2 --target velkor_perf_expectation >/dev/null
echo "# bench/expectation.sh $* (Release, $(uname -m), $(date -u +%Y-%m-%d))"
"$build/velkor_perf_expectation" "$@"
