#!/usr/bin/env bash
# The running program's CPU cost, a build before a change beside a build after it, from /proc,
# and prints one table:
#  - idle: 100 real Chromium windows on a private Xvfb display, 10,000 keywords matching none,
#    nothing changing: the program's share of one core;
#  - tabs: a headless Chromium with the bridge extension and 500 tabs of a local server, 50 of
#    them changing their title four times a second: the share of one core of the program, of
#    the browser's extension process and of the bridge host. The old program runs with the
#    extension as it was (bench/old-extension), the new one with bridge/extension.
# Each share is measured over <seconds> (60 by default) after the program settled, from utime +
# stime in /proc/<pid>/stat and, in parentheses, from the scheduler's count of each thread.
#
# Usage: bench/program-cost.sh <new bin folder> <old bin folder> [idle|tabs|all] [seconds]
# As root it copies both builds for the user vexbench and runs as vexbench while holding
# /work/bench.lock (or $BENCH_LOCK): the program watches every browser of its user.
# PROFILE=<seconds> then profiles each case's new program with perf after its measurement, the
# reports going to $PROFILE_OUT.1, .2 (program-cost-profile.1 ... by default).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -eq 0 ]; then
    new=$(realpath "$1")
    old=$(realpath "$2")
    shift 2
    stage=$(mktemp -d /tmp/program-cost.XXXXXX)
    trap 'rm -rf "$stage"' EXIT
    cp -r "$new" "$stage/new"
    cp -r "$old" "$stage/old"
    # The program before the change goes with the extension before the change.
    "$here/../bridge/package.sh" "$here/old-extension" "$stage/old-key.pem" "$stage/old/bridge" \
        >/dev/null 2>&1
    cp "$here/program-cost.sh" "$here/program-lib.sh" "$here/tab-pages.py" "$stage/"
    chmod -R a+rX "$stage"
    # With PROFILE=<seconds>, the new program of each case is profiled by perf once measured, as
    # root for the kernel's side.
    mkdir -m 777 "$stage/profile"
    flock "${BENCH_LOCK:-/work/bench.lock}" runuser -u vexbench -- env -i PATH="$PATH" \
        LANG=C.UTF-8 HOME=/nonexistent PROFILE="${PROFILE:-}" PROFILE_DIR="$stage/profile" \
        bash "$stage/program-cost.sh" "$stage/new" "$stage/old" "$@" &
    runner=$!
    # Each profiled program leaves its pid in the folder and waits for "done".
    profiles=0
    while [ -n "${PROFILE:-}" ] && kill -0 "$runner" 2>/dev/null; do
        if [ -s "$stage/profile/pid" ]; then
            profiles=$((profiles + 1))
            perf record -q --call-graph dwarf,16384 -o "$stage/profile/perf.data" -p "$(cat "$stage/profile/pid")" \
                -- sleep "$PROFILE" >&2 || true
            rm "$stage/profile/pid"
            touch "$stage/profile/done"
            # Which library, then which function the time is spent in, then under.
            for view in "--no-children --sort dso" "--no-children --sort dso,symbol" \
                "--children --sort dso,symbol"; do
                # shellcheck disable=SC2086
                perf report -i "$stage/profile/perf.data" --stdio $view --percent-limit 2 \
                    -g none 2>/dev/null || true
            done >"${PROFILE_OUT:-program-cost-profile}.$profiles"
        fi
        sleep 0.2
    done
    wait "$runner"
    exit
fi

new=$(realpath "$1")
old=$(realpath "$2")
mode=${3:-all}
seconds=${4:-60}
settle=10
keywords=10000
windows=100
tabs=500
changing=50
changes_per_second=4

name=program-cost
work=$(mktemp -d)
# shellcheck source=bench/program-lib.sh
source "$here/program-lib.sh"
trap bench_cleanup EXIT
trap 'exit 1' INT TERM
export HOME="$work/home"
mkdir -p "$HOME"
hz=$(getconf CLK_TCK)
rows="$work/rows"
notes="$work/notes"
: >"$rows"
: >"$notes"

load() { cut -d' ' -f1-3 /proc/loadavg; }

# With PROFILE set, hands a program to the profiler running as root and waits till it is done.
profile() {
    [ -n "${PROFILE:-}" ] || return 0
    echo "$1" >"$PROFILE_DIR/pid"
    wait_for $((PROFILE + 60)) test -e "$PROFILE_DIR/done" || true
    rm -f "$PROFILE_DIR/done"
}

# Prints, one line per process, its share of one core over the period, from /proc/<pid>/stat
# and from the scheduler: measure <seconds> <pid>...
measure() {
    local period=$1 pid i=0 started elapsed
    shift
    local -a ticks=() ns=()
    for pid in "$@"; do
        ticks+=("$(cpu_ticks "$pid")")
        ns+=("$(cpu_ns "$pid")")
    done
    started=$(now_ms)
    sleep "$period"
    elapsed=$(($(now_ms) - started))
    for pid in "$@"; do
        echo "$(share $(($(cpu_ticks "$pid") - ticks[i])) "$hz" $elapsed)" \
            "$(share $(($(cpu_ns "$pid") - ns[i])) 1000000000 $elapsed)"
        i=$((i + 1))
    done
}

# A share as the table shows it: "0.017 % (0.012 %)".
shown() { printf '%.3f %% (%.3f %%)' "$1" "$2"; }

# Whether a share from /proc/<pid>/stat is at most the target: met <share> <target>
met() { awk -v s="$1" -v t="$2" 'BEGIN { print (s <= t ? "yes" : "**no**") }'; }

idle_case() {
    local which bin pid ticks ns at before left
    local -A measured=()
    say "opening $windows Chromium windows"
    open_chromium_windows $windows "$work/profile"
    for which in old new; do
        bin=${!which}
        make_app_folder "$work/idle-$which" "$bin" $keywords
        launch "$work/idle-$which"
        pid=$launched
        wait_for 30 program_window_shown "$pid"
        sleep $settle
        at=$(date '+%Y-%m-%d %H:%M:%S')
        before=$(load)
        say "$which program, idle, $windows windows: measuring for $seconds s"
        read -r ticks ns < <(measure "$seconds" "$pid")
        if [ "$which" = new ]; then profile "$pid"; fi
        stop "$pid"
        measured[$which]="$ticks $ns"
        echo "idle, $which: $at UTC, load average $before before, $(load) after;" \
            "$ticks % ($ns %)" >>"$notes"
    done
    # The figures mean something only if each program sees the windows: with a keyword of the
    # last window's title it must close that window.
    left=$windows
    for which in old new; do
        make_app_folder "$work/check-$which" "${!which}" 0
        printf '"DE TEST %d"\r\n' $left >"$work/check-$which/mtrl.dll"
        launch "$work/check-$which"
        if ! wait_for 30 eval "! browser_windows $left"; then
            say "the $which program never closed window $left: it does not see the windows"
            exit 1
        fi
        stop "$launched"
        left=$((left - 1))
    done
    kill -- "-${groups[-1]}"
    # shellcheck disable=SC2086
    set -- ${measured[old]} ${measured[new]}
    printf '| program, idle, %d Chromium windows, %s keywords, none matching | %s | %s | ≤ 0.05 %% | %s |\n' \
        $windows "10,000" "$(shown "$1" "$2")" "$(shown "$3" "$4")" "$(met "$3" 0.05)" >>"$rows"
}

# One run with a headless Chromium: tabs_run <old|new>; leaves "program extension host ticks"
# shares in $work/tabs-<which>/shares.
tabs_run() {
    local which=$1 dir="$work/tabs-$1" bin port pid group extension host at before
    bin=${!which}
    make_app_folder "$dir" "$bin" $keywords
    # A last tab, opened after the others, that the program closes once the bridge listed it.
    printf '"sentinelle des onglets"\r\n' >>"$dir/mtrl.dll"
    mkdir -p "$dir/home"
    python3 "$here/tab-pages.py" "$dir/port" "$dir/log" $changing $changes_per_second &
    pids+=($!)
    wait_for 10 test -s "$dir/port"
    port=$(cat "$dir/port")
    # The program writes the host's manifest into its configuration folder at start, where the
    # browser's profile below looks for it.
    launch "$dir"
    pid=$launched
    wait_for 30 program_window_shown "$pid"
    say "$which: a headless Chromium with $tabs tabs"
    # Background tabs keep their timers at full rate, so the titles change as often as asked.
    setsid env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
        chromium "${chromium_arguments[@]}" --headless=new --user-data-dir="$dir/config/chromium" \
        --disable-dev-shm-usage --disable-popup-blocking --renderer-process-limit=16 \
        --disable-background-timer-throttling --disable-renderer-backgrounding \
        --disable-backgrounding-occluded-windows \
        --disable-features=DisableLoadExtensionCommandLineSwitch,IntensiveWakeUpThrottling \
        --load-extension="$dir/bridge/chromium" "http://127.0.0.1:$port/opener/$tabs" >"$dir/chromium.log" 2>&1 &
    group=$!
    groups+=("$group")
    pages_served() {
        [ "$(awk '$2 == "page" { seen[$3] = 1 } END { print length(seen) }' "$dir/log")" -ge $((tabs + 1)) ]
    }
    wait_for 600 pages_served
    wait_for 120 grep -q ' gone sentinel' "$dir/log"
    say "$which: every page loaded and the last tab closed by the program; settling"
    sleep $settle
    extension=$(pgrep -s "$group" -f -- '--extension-process' | head -n 1)
    host=$(pgrep -f -- "$dir/vexlor-popup-bridge" | head -n 1)
    if [ -z "$extension" ] || [ -z "$host" ]; then
        say "$which: no extension process ($extension) or bridge host ($host)"
        exit 1
    fi
    at=$(date '+%Y-%m-%d %H:%M:%S')
    before=$(load)
    local first last
    first=$(now_ms)
    say "$which: measuring for $seconds s"
    measure "$seconds" "$pid" "$extension" "$host" >"$dir/shares"
    last=$(now_ms)
    # Title changes a second per changing tab, from the pages' own counts.
    awk -v a="$first" -v b="$last" -v n=$changing '$2 == "tick" && $1 >= a && $1 < b { c++ }
        END { printf "%.2f\n", c * 20 / ((b - a) / 1000) / n }' "$dir/log" >>"$dir/shares"
    echo "tabs, $which: $at UTC, load average $before before, $(load) after;" \
        "program, extension, host: $(head -n 3 "$dir/shares" | tr '\n' ';')" \
        "title changes a second per changing tab: $(tail -n 1 "$dir/shares")" >>"$notes"
    if [ "$which" = new ]; then profile "$pid"; fi
    kill -- "-$group" 2>/dev/null || true
    stop "$pid"
}

tabs_case() {
    tabs_run old
    tabs_run new
    local label="$tabs bridged tabs, $changing changing their title $changes_per_second times a second"
    local -a o n
    mapfile -t o <"$work/tabs-old/shares"
    mapfile -t n <"$work/tabs-new/shares"
    # shellcheck disable=SC2086
    {
        printf '| program, %s | %s | %s | ≤ 2 %% | %s |\n' "$label" "$(shown ${o[0]})" \
            "$(shown ${n[0]})" "$(met "${n[0]%% *}" 2)"
        printf '| extension process, %s | %s | %s |  |  |\n' "$label" "$(shown ${o[1]})" \
            "$(shown ${n[1]})"
        printf '| bridge host, %s | %s | %s |  |  |\n' "$label" "$(shown ${o[2]})" "$(shown ${n[2]})"
    } >>"$rows"
}

start_display
case $mode in
idle) idle_case ;;
tabs) tabs_case ;;
all)
    idle_case
    tabs_case
    ;;
*)
    echo "usage: $0 <new bin folder> <old bin folder> [idle|tabs|all] [seconds]" >&2
    exit 2
    ;;
esac

echo "Share of one core over $seconds s: utime + stime from /proc/<pid>/stat (scheduler's count)."
echo
echo "| Case | Old | New | Target (new) | Met |"
echo "|---|---:|---:|---|---|"
cat "$rows"
echo
cat "$notes"
