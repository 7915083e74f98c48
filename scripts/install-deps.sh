#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
# Works as root or through sudo.
set -euo pipefail

packages=(
    build-essential cmake pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-websockets-dev qt6-qpa-plugins qt6-wayland
    qt6-translations-l10n
    libxcb1-dev libxcb-ewmh-dev
    libsndfile1-dev libpulse-dev
    libbenchmark-dev
    xvfb xauth x11-utils xdotool trayer xdg-utils desktop-file-utils libglib2.0-bin weston
    fonts-dejavu-core
    openssl zip python3 nodejs
    librsvg2-bin dpkg-dev jq lintian appstream
)
for option in "$@"; do
    case "$option" in
    --with-browsers) packages+=(chromium firefox-esr pulseaudio python3-xlib) ;;
    --with-fuzzers) packages+=(clang-14 libclang-rt-14-dev) ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
