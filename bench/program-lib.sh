# shellcheck shell=bash
# Sourced by the scripts that measure the running program from /proc: waits with a limit, a
# private X display, Chromium windows, copies of the program in folders of their own and their
# CPU time. The sourcing script sets `work` (a temporary folder) and `name` (for messages),
# and calls bench_cleanup from its EXIT trap: every process started here ends with the script.

pids=()
groups=()

bench_cleanup() {
    # Browsers lead process groups of their own, so that their helpers end with them.
    for group in "${groups[@]}"; do
        kill -- "-$group" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${groups[@]}" "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    # The browsers' helpers may still be writing into the profiles.
    for group in "${groups[@]}"; do
        wait_for 20 eval "! pgrep -g $group >/dev/null" || true
    done
    rm -rf "$work"
}

say() { echo "$name: $*" >&2; }

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

# Starts Xvfb on the first free display number from 90 and points DISPLAY at it.
start_display() {
    local display=90
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=":$display"
    wait_for 20 xdpyinfo >/dev/null 2>&1
}

chromium_arguments=(--no-first-run --no-default-browser-check --disable-background-networking
    --disable-component-update --disable-sync --disable-gpu --disable-quic --password-store=basic)
[ "$(id -u)" -eq 0 ] && chromium_arguments+=(--no-sandbox)

# Starts a Chromium in a process group of its own: start_chromium <arguments...>
start_chromium() {
    setsid chromium "${chromium_arguments[@]}" "$@" >/dev/null 2>&1 &
    groups+=($!)
}

browser_windows() {
    [ "$(xdotool search --onlyvisible --class chromium 2>/dev/null | wc -l)" -ge "$1" ]
}

# Opens the given number of windows of one Chromium, each on a local page titled
# "Page de test <n>": open_chromium_windows <count> <profile folder>
open_chromium_windows() {
    local count=$1 profile=$2 i
    for i in $(seq 1 "$count"); do
        printf '<!doctype html><title>Page de test %d</title><p>Page %d</p>\n' "$i" "$i" \
            >"$work/page$i.html"
    done
    start_chromium --user-data-dir="$profile" "file://$work/page1.html"
    wait_for 60 browser_windows 1
    for i in $(seq 2 "$count"); do
        chromium "${chromium_arguments[@]}" --user-data-dir="$profile" --new-window \
            "file://$work/page$i.html" >/dev/null 2>&1
        wait_for 30 browser_windows "$i"
    done
}

# A copy of the program's folder (the program, its bridge host and packages, languages, sound)
# with the given number of keywords, none in any test page:
# make_app_folder <folder> <bin folder> <keywords>
make_app_folder() {
    local folder=$1 bin=$2 keywords=$3 item
    mkdir -p "$folder/config" "$folder/runtime"
    chmod 700 "$folder/runtime"
    for item in vexlor-popup vexlor-popup-bridge bridge Lang sound.wav; do
        if [ -e "$bin/$item" ]; then
            cp -r "$bin/$item" "$folder/"
        fi
    done
    awk -v n="$keywords" 'BEGIN { for (i = 1; i <= n; i++) printf "\"bloque-%05d.exemple\"\r\n", i }' \
        >"$folder/mtrl.dll"
}

# Starts the program of an app folder, its settings kept in the folder: launch <folder>
launch() {
    local folder=$1
    XDG_CONFIG_HOME="$folder/config" XDG_RUNTIME_DIR="$folder/runtime" QT_QPA_PLATFORM=xcb \
        "$folder/vexlor-popup" >/dev/null 2>&1 &
    launched=$!
    pids+=("$launched")
}

caption=" Vexlor Popup  2007  - Protection totale"
program_window_shown() {
    xdotool search --onlyvisible --pid "$1" --name "$caption" >/dev/null 2>&1
}

stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# The CPU time of a process, all its threads: in clock ticks from /proc/<pid>/stat (utime +
# stime), and in nanoseconds from the scheduler's count of each thread (finer: a tick is
# 10 ms, a sixth of a thousandth of a core over a minute).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }

# The share of one core, in %, from two readings taken <ms> apart: share <delta> <per second> <ms>
share() {
    awk -v d="$1" -v hz="$2" -v ms="$3" 'BEGIN { printf "%.4f", 100 * (d / hz) / (ms / 1000) }'
}
