#!/usr/bin/env bash
# Measures the running program from /proc, on a private Xvfb display with real Chromium windows:
#  - start-up: from the launch of a copy of the program with a 32,767-keyword mtrl.dll beside it
#    to its window shown (mapped and viewable);
#  - idle: with 10 browser windows open and 1,000 keywords, none matching, the share of one core
#    the program uses and its largest resident size over the measuring period (60 s by default).
# Prints the results as JSON for vexlor-bench-table.
#
# Usage: bench/idle-usage.sh <path of vexlor-popup> [seconds]
set -euo pipefail

program=$(realpath "$1")
bin=$(dirname "$program")
seconds=${2:-60}
windows=10
idle_keywords=1000
startup_keywords=32767

name=idle-usage
work=$(mktemp -d)
# shellcheck source=bench/program-lib.sh
source "$(dirname "$0")/program-lib.sh"
trap bench_cleanup EXIT
trap 'exit 1' INT TERM

start_display
# Ten Chromium windows of one browser process, each on a local page with a title.
open_chromium_windows $windows "$work/profile"

# Start-up with the full keyword list.
make_app_folder "$work/startup" "$bin" $startup_keywords
say "start-up with $startup_keywords keywords"
started=$(now_ms)
launch "$work/startup"
wait_for 30 program_window_shown "$launched"
startup_ms=$(($(now_ms) - started))
stop "$launched"

# Idle with 1,000 keywords: let start-up settle, then read the program's CPU time and resident
# size from /proc once a second.
make_app_folder "$work/idle" "$bin" $idle_keywords
launch "$work/idle"
pid=$launched
wait_for 30 program_window_shown "$pid"
sleep 5
say "measuring the idle program for $seconds s with $windows browser windows"
ticks_per_second=$(getconf CLK_TCK)
resident_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
first_ticks=$(cpu_ticks "$pid")
first_ms=$(now_ms)
max_kb=$(resident_kb)
for _ in $(seq 1 "$seconds"); do
    sleep 1
    kb=$(resident_kb)
    ((kb > max_kb)) && max_kb=$kb
done
last_ticks=$(cpu_ticks "$pid")
last_ms=$(now_ms)
stop "$pid"

# The measurement means something only if the program does see the browser windows: with a
# keyword that the last page's title holds, it must close that window.
make_app_folder "$work/check" "$bin" 0
printf '"DE TEST %d"\r\n' $windows >"$work/check/mtrl.dll"
launch "$work/check"
one_window_closed() { ! browser_windows $windows; }
if ! wait_for 20 one_window_closed; then
    say "the program never closed the matching browser window: its scan does not see them"
    exit 1
fi
stop "$launched"

cpu_percent=$(share $((last_ticks - first_ticks)) "$ticks_per_second" $((last_ms - first_ms)))
cpu_percent=$(printf '%.3f' "$cpu_percent")
max_mb=$(awk -v kb="$max_kb" 'BEGIN { printf "%.1f", kb / 1024 }')
say "start-up ${startup_ms} ms; idle: ${cpu_percent} % of one core, ${max_mb} MB resident at most"

cat <<EOF
{"measurements": [
  {"case": "process-startup", "label": "running program: start-up to the window shown, 32,767 keywords (X11)", "value": $startup_ms, "unit": "ms", "target_max": 1000},
  {"case": "process-idle-cpu", "label": "running program, idle, $windows browser windows, 1,000 keywords, $seconds s: CPU", "value": $cpu_percent, "unit": "% of one core", "target_max": 0.2},
  {"case": "process-idle-rss", "label": "running program, idle, $windows browser windows, 1,000 keywords, $seconds s: largest resident size", "value": $max_mb, "unit": "MB", "target_max": 60}
]}
EOF
