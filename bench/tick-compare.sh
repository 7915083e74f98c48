#!/usr/bin/env bash
# The scan's tick benchmarks (our side of each case) of two builds, run back to back in turns so
# that both see the same load, and one table: for each case the median of each build's medians
# and its best time, and new ÷ old.
#
# Usage: bench/tick-compare.sh <new build folder> <old build folder> [rounds]
set -euo pipefail

declare -A builds=([new]=$(realpath "$1") [old]=$(realpath "$2"))
rounds=${3:-3}
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

for round in $(seq 1 "$rounds"); do
    for which in old new; do
        build=${builds[$which]}
        echo "tick-compare: round $round, $which ($(cut -d' ' -f1-3 /proc/loadavg))" >&2
        xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$build/bench/vexlor-bench" \
            --benchmark_filter='^(tick|refill).*/ours/' \
            --benchmark_out="$results/$which-$round.json" --benchmark_out_format=json \
            >/dev/null 2>&1
    done
done

python3 - "$results" "$rounds" <<'PY'
import json, statistics, sys
folder, rounds = sys.argv[1], int(sys.argv[2])
cases = {}
for which in ("old", "new"):
    for round in range(1, rounds + 1):
        for b in json.load(open(f"{folder}/{which}-{round}.json"))["benchmarks"]:
            name = b["run_name"].split("/")[0]
            entry = cases.setdefault(name, {}).setdefault(which, {"median": [], "min": [], "cpu": []})
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            if b.get("aggregate_name") == "median":
                entry["median"].append(b["real_time"] * scale)
            elif b.get("aggregate_name") == "min":
                entry["min"].append(b["real_time"] * scale)
                entry["cpu"].append(b["cpu_time"] * scale)
unit = lambda ms: "%.3g ms" % ms
print("| Case | Old, median | New, median | Old, best | New, best | Old, best CPU | New, best CPU | New ÷ old (median) |")
print("|---|---:|---:|---:|---:|---:|---:|---:|")
for name, by in cases.items():
    o, n = by["old"], by["new"]
    om, nm = statistics.median(o["median"]), statistics.median(n["median"])
    print(f"| {name} | {unit(om)} | {unit(nm)} | {unit(min(o['min']))} | {unit(min(n['min']))} "
          f"| {unit(min(o['cpu']))} | {unit(min(n['cpu']))} | {nm / om:.2f} |")
PY
