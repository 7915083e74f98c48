#!/usr/bin/env bash
# Runs a command as a client of a private Xvfb display of its own, as xvfb-run does, but safe to
# run many at once: Xvfb picks the first free display number itself and tells it. Tests that
# read every window of their display run side by side this way, each on its own.
#
#   scripts/x11-run.sh build/tests/tst_x11source
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 command [argument...]" >&2
    exit 2
fi

folder=$(mktemp -d "${TMPDIR:-/tmp}/x11-run.XXXXXX")
trap 'rm -rf "$folder"' EXIT
trap 'exit 143' TERM INT HUP
mkfifo "$folder/display"
# Xvfb dies with this script, even one killed outright, as a test's time limit kills it.
setpriv --pdeathsig KILL Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$folder/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$folder"' EXIT
if ! read -r -t 30 number <"$folder/display"; then
    echo "$0: Xvfb did not start within 30 s" >&2
    exit 1
fi
export DISPLAY=":$number"
status=0
"$@" || status=$?
exit $status
