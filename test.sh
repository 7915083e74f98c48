#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test through CTest. The tests
# that need X11 windows and real browsers run on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --with-browsers
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
cd build
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --output-on-failure "$@"
