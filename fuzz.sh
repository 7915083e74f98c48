#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each of them for the given number of seconds (600 by
# default), all at once, each from the seeds in fuzz/corpus/<name> plus what earlier runs found.
# Usage: ./fuzz.sh [seconds] [name...]
# New inputs go to build-fuzz/corpus/<name>, crashes to build-fuzz/findings/<name>, the output
# to build-fuzz/logs/<name>.log. Ends with the executions per second and the coverage of each.
set -euo pipefail
cd "$(dirname "$0")"
seconds=${1:-600}
shift || true
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(records ini language x11title devtools bidi)

scripts/install-deps.sh --with-fuzzers
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz -j"$(nproc)"

pids=()
for name in "${names[@]}"; do
    mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name" build-fuzz/logs
    QT_QPA_PLATFORM=offscreen "build-fuzz/bin/fuzz_$name" -max_total_time="$seconds" \
        -max_len=8192 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$name/" \
        "build-fuzz/corpus/$name" "fuzz/corpus/$name" >"build-fuzz/logs/$name.log" 2>&1 &
    pids+=($!)
done

status=0
for i in "${!names[@]}"; do
    name=${names[$i]}
    if wait "${pids[$i]}"; then result=passed; else result=FAILED; status=1; fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/logs/$name.log" | grep -o '[0-9]*$' || true)
    speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "build-fuzz/logs/$name.log" | grep -o '[0-9]*$' || true)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "build-fuzz/logs/$name.log" | tail -1 || true)
    echo "$name: $result, ${runs:-0} runs, ${speed:-0} exec/s, ${coverage:-no coverage}"
done
exit $status
