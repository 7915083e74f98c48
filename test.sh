#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test through CTest, then again on
# a build with the sanitizers (VEXLOR_SANITIZE=0 skips that second pass). Tests run side by side,
# as many as there are cores; those that need X11 windows and real browsers each start a private
# Xvfb display.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --with-browsers
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j"$(nproc)" "$@")
[ "${VEXLOR_SANITIZE:-1}" = 0 ] && exit 0

# The suite again on a build with AddressSanitizer and UndefinedBehaviorSanitizer, but for the
# packaging checks, which run no compiled code. Any report stops the program that made it and is
# kept in a file, so that a report from a program a test started fails the run too.
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" >/dev/null
cmake --build build-asan -j"$(nproc)"
reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:log_path=$reports/asan"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
status=0
(cd build-asan && ctest --output-on-failure -j"$(nproc)" --label-exclude packaging "$@") ||
    status=$?
if compgen -G "$reports/*" >/dev/null; then
    cat "$reports"/*
    echo "Sanitizer reports above, kept in $reports" >&2
    exit 1
fi
exit $status
