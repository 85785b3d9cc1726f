#!/usr/bin/env bash
# Compressed WAV to PCM WAV: quelbarin-convert against sox's own decode of the same files, a
# 10-minute stereo 44.1 kHz signal in A-law, IMA ADPCM and MS ADPCM, and 10 minutes of 8 kHz mono
# GSM 6.10; medians of N runs, wall seconds and peak RSS.
# Usage: bench/run-codec-bench.sh BUILD-DIR [WORK-FOLDER] [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
work_root=${2:-/tmp}
runs=${3:-5}
bin="$build/bin"
[ -x "$bin/quelbarin-convert" ] || { echo "build quelbarin-convert first" >&2; exit 2; }
for tool in sox /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 2; }
done
work=$(mktemp -d "$work_root/qd-codec-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

sox -n -r 44100 -c 2 -b 16 "$work/mix.wav" synth 600 sine 200-4000 sine 660 pinknoise \
  gain -6 2> /dev/null
for e in a-law ima-adpcm ms-adpcm; do sox "$work/mix.wav" -e "$e" "$work/$e.wav"; done
sox "$work/mix.wav" -r 8000 -c 1 -e gsm-full-rate "$work/gsm.wav"

median() { sort -n | awk '{a[NR]=$1} END {m=(NR+1)/2; if (NR%2) print a[m]; else print (a[NR/2]+a[NR/2+1])/2}'; }
# measure CMD...: prints "wall rss" medians of RUNS runs.
measure() {
  local w="" r=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2>&1
    read -r e m < "$work/time.txt"
    w+="$e"$'\n'; r+="$m"$'\n'
  done
  echo "$(printf '%s' "$w" | median) $(printf '%s' "$r" | median)"
}

printf '%-10s %12s %12s %8s %14s %14s\n' format "ours (s)" "sox (s)" ratio "ours RSS KiB" "sox RSS KiB"
mkdir -p "$work/out"
for e in a-law ima-adpcm ms-adpcm gsm; do
  read -r ow orss < <(measure "$bin/quelbarin-convert" -q -o "$work/out" "$work/$e.wav")
  read -r sw srss < <(measure sox -D "$work/$e.wav" -e signed -b 16 "$work/sox.wav")
  printf "%-10s %12s %12s %8s %14s %14s\n" "$e" "$ow" "$sw" "$(awk -v a="$ow" -v b="$sw" 'BEGIN {printf "%.2f", a / b}')" \
    "$orss" "$srss"
done
