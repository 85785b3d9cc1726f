#!/usr/bin/env bash
# Compares the normalization pass with `sox in.wav out.wav norm` on the same 4-minute 16-bit
# stereo 44.1 kHz WAV (about 42 MB) whose peak lies below full scale:
#   ours  normalize_bench on a fresh copy of the file (scan, gain stage to the .TMP file, fsync,
#         rename), as timed by the program around the Normalize call
#   sox   `sox in.wav out.wav norm`, wall time of the process (its output is not fsynced)
#   sox+sync  the same followed by `sync out.wav`, for a like-for-like durability
# Each is run RUNS times with a warm page cache; the medians are printed with the time ratio
# ours/sox (target: at most 0.6).
#
# Usage: bench/run-normalize-bench.sh <build-dir> [work-folder (default /tmp)] [runs (default 5)]
# Builds nothing: <build-dir> must hold bin/normalize_bench (a RelWithDebInfo build).
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 <build-dir> [work-folder] [runs]" >&2
  exit 2
fi
prog="$1/bin/normalize_bench"
[[ -x "$prog" ]] || prog="$1/bench/normalize_bench"
[[ -x "$prog" ]] || { echo "no normalize_bench in $1" >&2; exit 2; }
command -v sox >/dev/null || { echo "sox is needed" >&2; exit 2; }
runs="${3:-5}"
(( runs >= 1 )) || { echo "runs must be at least 1" >&2; exit 2; }
work="$(mktemp -d "${2:-/tmp}/qd-normalize-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2);
  printf "%.4f", (NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'; }
field() { sed -n "s/^$1=//p" <<<"$2"; }
peak() { sox "$1" -n stat 2>&1 | awk '/^Maximum amplitude/ { mx = $3 } /^Minimum amplitude/ {
  mn = -$3 } END { printf "%.5f", (mx > mn) ? mx : mn }'; }

# Pink noise with a chord over it, brought to -6 dBFS.
src="$work/in.wav"
sox -n -r 44100 -c 2 -b 16 "$src" synth 240 pinknoise synth 240 sine mix 220 \
  synth 240 sine mix 330 gain -n -6
bytes="$(stat -c %s "$src")"

declare -a ours sox_t sox_sync_t
for ((i = 1; i <= runs; i++)); do
  cp "$src" "$work/ours.wav"
  sync
  out="$("$prog" "$work/ours.wav")"
  [[ "$(field result "$out")" == 1 ]] || { echo "normalize_bench refused the file" >&2; exit 1; }
  ours+=("$(field seconds "$out")")

  rm -f "$work/sox.wav"
  sync
  t0="$(now)"; sox "$src" "$work/sox.wav" norm; t1="$(now)"; sync "$work/sox.wav"; t2="$(now)"
  sox_t+=("$(elapsed "$t0" "$t1")")
  sox_sync_t+=("$(elapsed "$t0" "$t2")")
  echo "run $i/$runs: ours ${ours[-1]}s; sox ${sox_t[-1]}s, +sync ${sox_sync_t[-1]}s" >&2
done

o="$(median "${ours[@]}")"; s="$(median "${sox_t[@]}")"; ss="$(median "${sox_sync_t[@]}")"
echo "file: $bytes bytes, $runs runs, warm page cache, medians"
echo "peak (fraction of full scale): input $(peak "$src"), ours $(peak "$work/ours.wav")," \
  "sox $(peak "$work/sox.wav")"
awk -v o="$o" -v s="$s" -v ss="$ss" -v b="$bytes" 'BEGIN {
  printf "%-10s %9s %9s   %s\n", "", "s", "MB/s", "ours/this"
  printf "%-10s %9.3f %9.1f\n", "ours", o, b / 1e6 / o
  printf "%-10s %9.3f %9.1f   %6.2f\n", "sox", s, b / 1e6 / s, o / s
  printf "%-10s %9.3f %9.1f   %6.2f\n", "sox+sync", ss, b / 1e6 / ss, o / ss }'
