#!/usr/bin/env bash
# Line and branch coverage of the C++ sources under the whole suite: the GoogleTest binary and
# pytest against a coverage build of the extension, merged by gcovr.
# Usage: bash tools/coverage.sh [OUT]   (default build/coverage; OUT/summary.txt keeps the result)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/coverage}
root=$(pwd)

python3 -m pip install --quiet --disable-pip-version-check gcovr
cmake -S . -B "$out/tests" -G Ninja -DVELKOR_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=--coverage >/dev/null
cmake --build "$out/tests" -j2 >/dev/null
python3 -m venv --system-site-packages "$out/venv"
"$out/venv/bin/pip" install --quiet --disable-pip-version-check --no-build-isolation \
  -C build-dir="$root/$out/py" -C cmake.build-type=Debug \
  -C cmake.define.CMAKE_CXX_FLAGS=--coverage '.[test]'

find "$out" -name '*.gcda' -delete
ctest --test-dir "$out/tests" -j2 | tail -n 1
"$out/venv/bin/python" -m pytest -q -p no:cacheprovider tests | tail -n 1

# The core is everything under src/ except the bindings and the test, benchmark and fuzz code.
# Counters bumped from several threads at once can race and come out negative; gcov then
# reports a negative branch count, which gcovr would otherwise refuse.
gcovr -r . "$out/tests" "$out/py" --filter 'src/' \
  --exclude '.*_(test|perf|fuzz)\.cc$' --exclude 'src/simulator/testing/' \
  --exclude 'src/circuit/grammar_oracle\.h' --exclude 'src/bindings/' \
  --gcov-ignore-parse-errors=negative_hits.warn_once_per_file \
  --txt-metric branch --print-summary -o "$out/core.txt" | tail -n 3 | tee "$out/summary.txt"
