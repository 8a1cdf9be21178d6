#!/usr/bin/env bash
# Builds the circuit reader's libFuzzer target with clang (address and undefined-behaviour
# sanitizers on the target and the core) and runs it.
#
#   bench/fuzz_circuit_reader.sh [seconds, default 600]
# The build directory is $VELKOR_FUZZ_BUILD (default build-fuzz at the repository root).
# Findings are written to its fuzz_circuit_reader/ folder (crash-*, timeout-*, oom-*); the
# corpus grows in fuzz_circuit_reader/corpus and is reused by later runs.
set -euo pipefail

seconds="${1:-600}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${VELKOR_FUZZ_BUILD:-$root/build-fuzz}")"
work="$build/fuzz_circuit_reader"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DVELKOR_BUILD_FUZZERS=ON >/dev/null
cmake --build "$build" -j2 --target velkor_fuzz_circuit_reader

mkdir -p "$work/corpus"
# Seeds: a few well-formed and malformed circuits.
printf 'H 0\n}\n' >"$work/corpus/seed_stray_brace"
printf 'REPEAT 3 {\nX 0\nM !0 1\nDETECTOR(1, 2) rec[-1] rec[-2]\n}\nOBSERVABLE_INCLUDE(0) rec[-1]\n' \
  >"$work/corpus/seed_repeat"
printf 'MPP(0.01) X0*!Y1 Z2\nEXP_VAL -X0\nCX rec[-1] 3 0 1\r\nPAULI_CHANNEL_1(0.1, 0.2, 0.3) 0 # c\n' \
  >"$work/corpus/seed_products"
printf 'REPEAT 2 { REPEAT 1 {\nX_ERROR(0.1 0\n} DEPOLARIZE2(1e-3) 0 1\nrepeat 0 {' \
  >"$work/corpus/seed_unclosed"
cat >"$work/circuit.dict" <<'DICT'
"REPEAT"
"repeat"
"{"
"}"
"\x0a"
"\x0d\x0a"
"#"
"rec[-1]"
"rec[-"
"sweep[0]"
"!"
"*"
"X0"
"(0.5)"
"1e-3"
"MPP"
"EXP_VAL"
"DETECTOR"
"OBSERVABLE_INCLUDE"
"CX"
"CY"
"CZ"
"CCZ"
"SWAP"
"M"
"MRX"
"R"
"X_ERROR"
"DEPOLARIZE1"
"DEPOLARIZE2"
"DEPOLARIZE3"
"PAULI_CHANNEL_1"
"PAULI_CHANNEL_2"
"TICK"
"18446744073709551615"
"18446744073709551616"
DICT

cd "$work"
"$build/velkor_fuzz_circuit_reader" "$work/corpus" -dict="$work/circuit.dict" \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
