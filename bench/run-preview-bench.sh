#!/usr/bin/env bash
# The window's preview of a 60-second 192 kbps stereo MP3 on the null device: process CPU time as
# a share of one core (target <= 2 %), and the time from the play click to the first buffer
# written to the device (target <= 50 ms), for RUNS runs (default 3).
#
#   bench/run-preview-bench.sh <build-dir> [folder] [runs]
set -euo pipefail
build=${1:?usage: run-preview-bench.sh <build-dir> [folder] [runs]}
folder=${2:-/tmp}
runs=${3:-3}
bench="$build/bin/preview_bench"
[ -x "$bench" ] || { echo "build the preview_bench target first" >&2; exit 1; }
work=$(mktemp -d "$folder/qd-preview.XXXXXX")
trap 'rm -rf "$work"' EXIT

sox -n -r 44100 -c 2 -b 16 "$work/mix.wav" synth 60 sine 220 sine 330 tremolo 3 40 2> /dev/null
lame --quiet -b 192 "$work/mix.wav" "$work/preview.mp3"
rm "$work/mix.wav"
for ((i = 0; i < runs; i++)); do
  "$bench" "$work" preview.mp3 2> /dev/null
  echo
done
