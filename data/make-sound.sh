#!/bin/sh
# Remakes data/sound.wav, the default sound played when a page is closed: a short rising
# two-note chime (C6 then E6), 22050 Hz mono 16-bit PCM. Needs sox; -D leaves out dither so
# the same file comes out every time.
set -e
cd "$(dirname "$0")"
sox -D -n -r 22050 -c 1 -b 16 sound.wav \
    synth 0.16 sine 1046.5 fade q 0.004 0.16 0.12 vol 0.5 : \
    synth 0.30 sine 1318.5 fade q 0.004 0.30 0.27 vol 0.5
