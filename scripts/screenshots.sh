#!/usr/bin/env bash
# Takes a screenshot of the window and of each of its panels under a private Xvfb display,
# into docs/screenshots/. Needs a build (./run.sh or ./test.sh builds one) and chromium, which
# plays a page for the program to close so the journal and statistics have something to show.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cp build/bin/vexlor-popup "$work/"
cp -r build/bin/Lang build/bin/sound.wav "$work/"
printf '"casino"\r\n"pub"\r\n"poker"\r\n' > "$work/mtrl.dll"
mkdir -p "$work/stat"
printf '"poker","0"\r\n"pub","12"\r\n"casino","3"\r\n' > "$work/stat/stat.txt"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -noreset >/dev/null 2>&1 &
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

caption=' Vexlor Popup  2007  - Protection totale'
XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$work/vexlor-popup" &
for _ in $(seq 100); do window=$(xdotool search --name "^$caption\$" 2>/dev/null | head -1) && [ -n "$window" ] && break; sleep 0.1; done

chromium --no-sandbox --user-data-dir="$work/chromium" --no-first-run --disable-gpu \
    --disable-background-networking --disable-component-update --disable-sync --disable-quic \
    --password-store=basic --window-position=0,0 --window-size=300,200 \
    'data:text/html,<title>Casino en ligne</title><h1>Casino</h1>' >/dev/null 2>&1 &
chromium_pid=$!
for _ in $(seq 300); do kill -0 "$chromium_pid" 2>/dev/null || break; sleep 0.1; done
chromium --no-sandbox --user-data-dir="$work/chromium2" --no-first-run --disable-gpu \
    --disable-background-networking --disable-component-update --disable-sync --disable-quic \
    --password-store=basic --window-position=0,0 --window-size=300,200 \
    'data:text/html,<title>Recettes de cuisine</title><h1>Recettes</h1>' >/dev/null 2>&1 &
for _ in $(seq 300); do xdotool search --name 'Recettes de cuisine' >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1

shot() { import -window "$window" "$out/$1.png"; }
press() { # x y in twips within the window
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove $((X + $1 / 15)) $((Y + $2 / 15)) click 1
    sleep 0.5
}
shot window
press 2900 660   # Options: the tall form, keywords panel
shot keywords
press 3500 3780  # Journal
shot journal
press 4900 3780  # Config
shot configuration
press 6200 3780  # Stat
shot statistics
echo "Screenshots in $out"
