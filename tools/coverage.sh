#!/usr/bin/env bash
# Line and branch coverage of the C++ sources under the whole suite: the GoogleTest binary and
# pytest against a coverage build of the extension, merged by gcovr. One Debug build makes both:
# the extension sits beside a copy of python/velkor on PYTHONPATH, which the tests' own
# subprocesses inherit.
# Usage: bash tools/coverage.sh [OUT]   (default build/coverage; OUT/summary.txt keeps the result)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/coverage}")
python=$(command -v python3)

"$python" -m pip install --quiet --disable-pip-version-check gcovr
cmake -S . -B "$out/build" -G Ninja -DVELKOR_BUILD_TESTS=ON -DVELKOR_BUILD_EXTENSION=ON \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$out/build" -j2 >/dev/null
rm -rf "$out/pkg" && mkdir -p "$out/pkg" && cp -r python/velkor "$out/pkg/"
ln -s "$out"/build/_core*.so "$out/pkg/velkor/"
export PYTHONPATH="$out/pkg"
"$python" -c 'import velkor, sys; sys.exit(not velkor.__file__.startswith(sys.argv[1]))' "$out/pkg"

find "$out" -name '*.gcda' -delete
# A failing test still leaves its counts: say so, and measure what ran.
ctest --test-dir "$out/build" -j2 | tail -n 1 || echo "SOME C++ TESTS FAILED"
"$python" -m pytest -q -p no:cacheprovider tests | tail -n 1 || echo "SOME PYTHON TESTS FAILED"

# The core is everything under src/ except the bindings and the test, benchmark and fuzz code.
# The counters are updated atomically, since the thread tests run the core on several threads at
# once; should one still come out negative, gcovr counts it as zero instead of refusing it.
gcovr -r . "$out/build" --filter 'src/' \
  --exclude '.*_(test|perf|fuzz)\.cc$' --exclude 'src/simulator/testing/' \
  --exclude 'src/circuit/grammar_oracle\.h' --exclude 'src/bindings/' \
  --gcov-ignore-parse-errors=negative_hits.warn_once_per_file \
  --txt-metric branch --print-summary -o "$out/core.txt" --json "$out/coverage.json" | tail -n 3 | tee "$out/summary.txt"
