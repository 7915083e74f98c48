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
seconds=${2:-60}
windows=10
idle_keywords=1000
startup_keywords=32767
caption=" Vexlor Popup  2007  - Protection totale"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

say() { echo "idle-usage: $*" >&2; }

# Waits for a condition, checked every 20 ms, for at most the given number of seconds.
wait_for() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        if ((SECONDS >= deadline)); then
            say "gave up waiting for: $*"
            return 1
        fi
        sleep 0.02
    done
}

now_ms() { date +%s%3N; }

# A private display.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for 20 xdpyinfo >/dev/null 2>&1

# Ten Chromium windows of one browser process, each on a local page with a title.
chromium_arguments=(--user-data-dir="$work/profile" --no-first-run --no-default-browser-check
    --disable-background-networking --disable-component-update --disable-sync --disable-gpu
    --disable-quic --password-store=basic)
[ "$(id -u)" -eq 0 ] && chromium_arguments+=(--no-sandbox)
for i in $(seq 1 $windows); do
    printf '<!doctype html><title>Page de test %d</title><p>Page %d</p>\n' "$i" "$i" \
        >"$work/page$i.html"
done
chromium "${chromium_arguments[@]}" "file://$work/page1.html" >/dev/null 2>&1 &
pids+=($!)
browser_windows() {
    [ "$(xdotool search --onlyvisible --class chromium 2>/dev/null | wc -l)" -ge "$1" ]
}
wait_for 60 browser_windows 1
for i in $(seq 2 $windows); do
    chromium "${chromium_arguments[@]}" --new-window "file://$work/page$i.html" >/dev/null 2>&1
    wait_for 30 browser_windows "$i"
done

# A copy of the program in a folder of its own, with its settings kept away from the user's.
make_app_folder() {
    local folder=$1 keywords=$2
    mkdir -p "$folder/config" "$folder/runtime"
    chmod 700 "$folder/runtime"
    cp "$program" "$folder/vexlor-popup"
    cp -r "$(dirname "$program")/Lang" "$(dirname "$program")/sound.wav" "$folder/" 2>/dev/null || true
    awk -v n="$keywords" 'BEGIN { for (i = 1; i <= n; i++) printf "\"bloque-%05d.exemple\"\r\n", i }' \
        >"$folder/mtrl.dll"
}

launch() {
    local folder=$1
    XDG_CONFIG_HOME="$folder/config" XDG_RUNTIME_DIR="$folder/runtime" QT_QPA_PLATFORM=xcb \
        "$folder/vexlor-popup" >/dev/null 2>&1 &
    launched=$!
    pids+=("$launched")
}

program_window_shown() {
    xdotool search --onlyvisible --pid "$1" --name "$caption" >/dev/null 2>&1
}

stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Start-up with the full keyword list.
make_app_folder "$work/startup" $startup_keywords
say "start-up with $startup_keywords keywords"
started=$(now_ms)
launch "$work/startup"
wait_for 30 program_window_shown "$launched"
startup_ms=$(($(now_ms) - started))
stop "$launched"

# Idle with 1,000 keywords: let start-up settle, then read the program's CPU time and resident
# size from /proc once a second.
make_app_folder "$work/idle" $idle_keywords
launch "$work/idle"
pid=$launched
wait_for 30 program_window_shown "$pid"
sleep 5
say "measuring the idle program for $seconds s with $windows browser windows"
ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
resident_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
first_ticks=$(cpu_ticks)
first_ms=$(now_ms)
max_kb=$(resident_kb)
for _ in $(seq 1 "$seconds"); do
    sleep 1
    kb=$(resident_kb)
    ((kb > max_kb)) && max_kb=$kb
done
last_ticks=$(cpu_ticks)
last_ms=$(now_ms)
stop "$pid"

# The measurement means something only if the program does see the browser windows: with a
# keyword that the last page's title holds, it must close that window.
make_app_folder "$work/check" 0
printf '"DE TEST %d"\r\n' $windows >"$work/check/mtrl.dll"
launch "$work/check"
one_window_closed() { ! browser_windows $windows; }
if ! wait_for 20 one_window_closed; then
    say "the program never closed the matching browser window: its scan does not see them"
    exit 1
fi
stop "$launched"

cpu_percent=$(awk -v t=$((last_ticks - first_ticks)) -v hz="$ticks_per_second" \
    -v ms=$((last_ms - first_ms)) 'BEGIN { printf "%.3f", 100 * (t / hz) / (ms / 1000) }')
max_mb=$(awk -v kb="$max_kb" 'BEGIN { printf "%.1f", kb / 1024 }')
say "start-up ${startup_ms} ms; idle: ${cpu_percent} % of one core, ${max_mb} MB resident at most"

cat <<EOF
{"measurements": [
  {"case": "process-startup", "label": "running program: start-up to the window shown, 32,767 keywords (X11)", "value": $startup_ms, "unit": "ms", "target_max": 1000},
  {"case": "process-idle-cpu", "label": "running program, idle, $windows browser windows, 1,000 keywords, $seconds s: CPU", "value": $cpu_percent, "unit": "% of one core", "target_max": 0.2},
  {"case": "process-idle-rss", "label": "running program, idle, $windows browser windows, 1,000 keywords, $seconds s: largest resident size", "value": $max_mb, "unit": "MB", "target_max": 60}
]}
EOF
