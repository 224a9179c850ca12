#!/bin/sh
# Builds the benchmarks in Release (build-bench/ beside the sources) and runs
# them. Arguments are passed on (e.g. "rtf" to run only the RTF phases).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DINKWELL_BUILD_BENCH=ON -DINKWELL_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target inkwell_bench
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$root/build-bench/bench/inkwell_bench" "$@"
