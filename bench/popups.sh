#!/usr/bin/env bash
# Popup latency with real browsers, the program before the change (/work/old/build, or
# POPBENCH_OLD) beside this build's: from the opener page's window.open() to the popup seen
# closed, through the bridge extension, remote debugging (DevTools, BiDi) and X11 windows, and
# the floor an extension reaches alone. Runs as the user vexbench on a private Xvfb display
# while holding /work/bench.lock, stores every time in build/popups.json and prints one table.
#
# Usage: bench/popups.sh [--count N] [--only CASE-SUBSTRING] [--mode timeout|channel]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
old=${POPBENCH_OLD:-/work/old/build/bin}
new=${POPBENCH_NEW:-$repo/build/bin}
user=${POPBENCH_USER:-vexbench}
for folder in "$old" "$new"; do
    for file in vexlor-popup vexlor-popup-bridge bridge/chromium-extension-id \
        bridge/vexlor-popup-bridge.xpi bridge/chromium/manifest.json; do
        if [ ! -e "$folder/$file" ]; then
            echo "popups.sh: $folder/$file is missing: build vexlor-popup first" >&2
            exit 1
        fi
    done
done

# Everything the unprivileged user runs, in a folder it may read.
stage=$(mktemp -d /tmp/popbench-stage.XXXXXX)
token="popbench-$$-$RANDOM"
runner=
cleanup() {
    if [ -n "$runner" ]; then
        kill "$runner" 2>/dev/null || true
        wait "$runner" 2>/dev/null || true
    fi
    # Whatever the run left behind carries its token in its environment.
    for environ in /proc/[0-9]*/environ; do
        if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qx "POPBENCH_RUN=$token"; then
            pid=${environ#/proc/}
            kill -9 "${pid%/environ}" 2>/dev/null || true
        fi
    done
    rm -rf "$stage"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
cp -r "$old" "$stage/old"
cp -r "$new" "$stage/new"
cp -r "$repo/bench/popups/floor" "$stage/floor"
(cd "$stage/floor" && zip -q -X "$stage/floor.xpi" manifest.json background.js)
cp -r "$repo/bench/popups" "$stage/harness"
mkdir "$stage/out"
chmod -R a+rX "$stage"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown "$user" "$stage/out"
    as_user=(runuser -u "$user" --)
fi

uptime >&2
flock /work/bench.lock "${as_user[@]}" env -i PATH=/usr/bin:/bin POPBENCH_RUN="$token" \
    ${POPBENCH_KEEP:+POPBENCH_KEEP=1} \
    python3 "$stage/harness/run.py" "$stage" "$stage/out/popups.json" "$@" &
runner=$!
wait "$runner"
runner=
uptime >&2

mkdir -p "$repo/build"
cp "$stage/out/popups.json" "$repo/build/popups.json"
python3 "$repo/bench/popups/table.py" "$repo/build/popups.json"
