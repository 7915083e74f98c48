#!/usr/bin/env bash
# Runs a command as a client of a private headless Wayland compositor, as xvfb-run does for X11:
# weston's headless backend with pixman rendering (no GPU, no seat, no XWayland), listening in a
# fresh runtime folder of its own that becomes the command's XDG_RUNTIME_DIR. An X display in
# $DISPLAY stays, as XWayland's would on a Wayland desktop; the command clears it to play a
# desktop without one. Weston's log, with every request its clients make, is kept in
# $XDG_RUNTIME_DIR/weston.log while the command runs: a test reads there what the compositor got.
#
#   scripts/weston-run.sh build/bin/vexlor-popup
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 command [argument...]" >&2
    exit 2
fi
if ! command -v weston >/dev/null; then
    echo "$0: weston is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/weston-run.XXXXXX")
socket=wayland-vexlor
weston=""
finish() {
    if [ -n "$weston" ]; then
        kill "$weston" 2>/dev/null || true
        wait "$weston" 2>/dev/null || true
    fi
    rm -rf "$runtime"
}
trap finish EXIT
trap 'exit 143' TERM INT HUP

# Weston dies with this script, even one killed outright, as a test's time limit kills it.
XDG_RUNTIME_DIR=$runtime setpriv --pdeathsig KILL weston --backend=headless-backend.so \
    --use-pixman --idle-time=0 --width=1280 --height=1024 --socket=$socket \
    --log="$runtime/weston.log" --logger-scopes=log,proto </dev/null >/dev/null 2>&1 &
weston=$!
# Weston listens once its output and shell are up; a client that connects then is served.
for _ in $(seq 300); do
    [ -S "$runtime/$socket" ] && break
    if ! kill -0 "$weston" 2>/dev/null; then
        echo "$0: weston ended before it listened:" >&2
        cat "$runtime/weston.log" >&2 || true
        exit 1
    fi
    sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
    echo "$0: weston did not listen within 30 s" >&2
    exit 1
fi

export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket XDG_SESSION_TYPE=wayland
status=0
"$@" || status=$?
exit $status
