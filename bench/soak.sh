#!/usr/bin/env bash
# The soak run: the program's real window, scan and commands for ten minutes (or the given
# number of seconds) on a private Xvfb display, over pages that come and go ten times a second,
# half of them matching, while keywords are added and deleted through the buttons. Samples the
# resident size and the CPU every 10 s from /proc, then checks: the run ended by "Quitter" with
# no crash, the saved files hold every keyword and every count (vexlor-soak checks them), and
# the resident size stopped growing once the journal was full.
#
# Usage: bench/soak.sh [seconds]     (600 by default; not part of ./test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
# The largest growth of the resident size, in MB, allowed once the journal is full.
allowed_growth_mb=4

scripts/install-deps.sh >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vexlor-soak >/dev/null

work=$(mktemp -d)
trap 'kill "$runner" 2>/dev/null || true; rm -rf "$work"' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" build/bench/vexlor-soak "$work" "$seconds" \
    "$work/report.json" >"$work/run.log" 2>&1 &
runner=$!

# xvfb-run starts the program as its child; wait for it to appear.
pid=
for _ in $(seq 100); do
    pid=$(pgrep -n -f "^build/bench/vexlor-soak $work" || true)
    [ -n "$pid" ] && break
    sleep 0.1
done
[ -n "$pid" ] || { echo "soak: the program did not start" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
samples=$work/samples.txt
previous_cpu=$(awk '{print $14 + $15}' "/proc/$pid/stat")
echo "  s   RSS MB   CPU %" | tee "$samples"
elapsed=0
while kill -0 "$pid" 2>/dev/null; do
    sleep 10
    elapsed=$((elapsed + 10))
    [ -r "/proc/$pid/stat" ] || break
    cpu=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null) || break
    rss=$(awk '/^VmRSS:/ {printf "%.1f", $2 / 1024}' "/proc/$pid/status" 2>/dev/null) || break
    share=$(awk -v a="$cpu" -v b="$previous_cpu" -v t="$ticks" 'BEGIN {printf "%.1f", (a - b) / t / 10 * 100}')
    previous_cpu=$cpu
    printf "%4d %8s %7s\n" "$elapsed" "$rss" "$share" | tee -a "$samples"
done
status=0
wait "$runner" || status=$?

echo "Report of the run:"
cat "$work/report.json" 2>/dev/null || { echo "soak: no report, the program crashed" >&2; cat "$work/run.log" >&2; exit 1; }
[ "$status" = 0 ] || { echo "soak: the run found problems (exit $status)" >&2; exit 1; }

full_after=$(python3 -c 'import json,sys; v=json.load(open(sys.argv[1]))["journalFullAfterSeconds"]; print(-1 if v is None else v)' "$work/report.json")
if [ "$full_after" -lt 0 ]; then
    echo "soak: the journal never filled; growth not judged"
    exit 0
fi
# From the first sample after the journal filled to the end of the run.
growth=$(awk -v from="$full_after" 'NR > 1 && $1 >= from + 10 {
             if (first == "") first = $2; last = $2; if ($2 > max) max = $2 }
         END { if (first == "") print 0; else printf "%.1f", max - first }' "$samples")
echo "Journal full after ${full_after} s; resident size grew ${growth} MB afterwards (allowed ${allowed_growth_mb})."
awk -v g="$growth" -v a="$allowed_growth_mb" 'BEGIN { exit !(g <= a) }' || { echo "soak: memory grows" >&2; exit 1; }
echo "soak: passed"
