#!/usr/bin/env bash
# Compares the wave object's block I/O with the system's tools on the same 1 GiB file:
#   write        wave_write_bench from CreateWaveFile until CloseFile returns  vs  cp of the file
#   write+fsync  the same plus an fsync of the result                         vs  cp + sync FILE
#   read         OpenFile and ReadBytes in 32 KiB blocks                       vs  cat FILE >/dev/null
# Each is run RUNS times; the medians are printed side by side with the time ratio ours/tool.
# When the page cache can be dropped (root), both reads come from the disk and cp copies a
# file that is in the cache; otherwise everything runs with a warm cache.
#
# Usage: bench/run-wave-bench.sh <build-dir> [work-folder (default /tmp)] [runs (default 5)]
# Builds nothing: <build-dir> must hold bin/wave_write_bench (a RelWithDebInfo build).
# QD_BENCH_MIB=N runs with N MiB instead of 1024 (for a quick check of the script).
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 <build-dir> [work-folder] [runs]" >&2
  exit 2
fi
prog="$1/bin/wave_write_bench"
[[ -x "$prog" ]] || prog="$1/bench/wave_write_bench"
[[ -x "$prog" ]] || { echo "no wave_write_bench in $1" >&2; exit 2; }
runs="${3:-5}"
(( runs >= 1 )) || { echo "runs must be at least 1" >&2; exit 2; }
work="$(mktemp -d "${2:-/tmp}/qd-wave-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

drop_caches() {
  sync
  { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null
}
extra=()
if drop_caches; then
  cold=1; caches="dropped before each read"; extra=(--drop-caches)
else
  cold=0; caches="warm (cannot drop)"
fi
maybe_drop() { if (( cold )); then drop_caches; else sync; fi; }

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2);
  printf "%.4f", (NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'; }
field() { sed -n "s/^$1=//p" <<<"$2"; }

declare -a ours_w ours_wf ours_r cp_w cp_wf cat_r
file="$work/qd-wave-bench.wav"
for ((i = 1; i <= runs; i++)); do
  rm -f "$file"  # so the timed write does not include deleting the previous run's file
  sync
  out="$("$prog" "$work" --mib "${QD_BENCH_MIB:-1024}" --keep "${extra[@]}")"
  w="$(field write_s "$out")"
  f="$(field fsync_s "$out")"
  ours_w+=("$w")
  ours_wf+=("$(awk -v a="$w" -v b="$f" 'BEGIN { printf "%.4f", a + b }')")
  ours_r+=("$(field read_s "$out")")
  bytes="$(field bytes "$out")"

  sync  # the source is in the cache: the program has just read it
  t0="$(now)"; cp "$file" "$work/copy.wav"; t1="$(now)"; sync "$work/copy.wav"; t2="$(now)"
  cp_w+=("$(elapsed "$t0" "$t1")")
  cp_wf+=("$(elapsed "$t0" "$t2")")
  rm -f "$work/copy.wav"

  maybe_drop
  t0="$(now)"; cat "$file" >/dev/null; t1="$(now)"
  cat_r+=("$(elapsed "$t0" "$t1")")
  echo "run $i/$runs: ours write ${w}s +fsync ${f}s read $(field read_s "$out")s;" \
    "cp ${cp_w[-1]}s +sync ${cp_wf[-1]}s; cat ${cat_r[-1]}s" >&2
done

row() {  # name ours-times-array tool-name tool-times-array
  local -n ours="$2" tool="$4"
  local o t
  o="$(median "${ours[@]}")"; t="$(median "${tool[@]}")"
  awk -v n="$1" -v o="$o" -v tn="$3" -v t="$t" -v b="$bytes" 'BEGIN {
    printf "%-12s %9.3f %9.1f   %-8s %9.3f %9.1f   %6.2f\n", n, o, b / 1e6 / o, tn, t, b / 1e6 / t, o / t }'
}
echo "file: $bytes bytes in $work, $runs runs, page cache $caches; medians, MB/s = 10^6 B/s"
printf "%-12s %9s %9s   %-8s %9s %9s   %6s\n" "" "ours s" "MB/s" "tool" "s" "MB/s" "ours/tool"
row write ours_w cp cp_w
row write+fsync ours_wf cp+sync cp_wf
row read ours_r cat cat_r
