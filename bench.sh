#!/usr/bin/env bash
# Builds the program and its benchmarks, runs every benchmark program and the running-program
# measurement, and prints one table: each case, our time beside the literal reference's from
# the same run, their ratio, and the target where there is one. Exits with 1 when a target is
# missed. Takes about ten minutes; progress goes to stderr, the table to stdout.
#
#   ./bench.sh              everything
#   ./bench.sh --no-program without the running-program measurement (about two minutes less)
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --with-browsers >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vexlor-popup benchmarks >/dev/null

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
outputs=()
for program in build/bench/vexlor-bench build/bench/vexlor-bench-*; do
    name=$(basename "$program")
    [ "$name" = vexlor-bench-table ] && continue
    echo "Running $name (log: build/$name.log)..." >&2
    # Some programs measure browser windows, so all run on a private X display.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$program" \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json >"build/$name.log" 2>&1
    outputs+=("$results/$name.json")
done
if [ "${1:-}" != "--no-program" ]; then
    echo "Measuring the running program, start-up and idle (about two minutes)..." >&2
    bench/idle-usage.sh build/bin/vexlor-popup 60 >"$results/program.json"
    outputs+=("$results/program.json")
fi
build/bench/vexlor-bench-table "${outputs[@]}"
