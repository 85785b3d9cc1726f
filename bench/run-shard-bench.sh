#!/usr/bin/env bash
# Sharding's cost: eight 4-minute 192 kbps MP3s converted by one `quelbarin-convert -j 2` run,
# against two `--shard K/2` processes started at once (each with its default thread count, and
# each with -j 1), on the same machine. Prints the medians of N runs, the ratio two shards / one
# run (target: at most 1.05), how FNV-1a split the eight files, and the load average before and
# after, since a busy machine moves these figures.
# Usage: bench/run-shard-bench.sh BUILD-DIR [WORK-FOLDER] [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
work_root=${2:-/tmp}
runs=${3:-5}
convert="$build/bin/quelbarin-convert"
[ -x "$convert" ] || { echo "build quelbarin-convert first" >&2; exit 2; }
for tool in sox lame bc python3; do
  command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 2; }
done
work=$(mktemp -d "$work_root/qd-shard-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench-common.sh"
make_mix "$work/mix.wav"
mkdir -p "$work/in"
lame --quiet -b 192 "$work/mix.wav" "$work/in/f1.mp3"
rm -f "$work/mix.wav"
for i in 2 3 4 5 6 7 8; do cp "$work/in/f1.mp3" "$work/in/f$i.mp3"; done
cd "$work"

# seconds CMD...: the wall time of CMD in seconds.
seconds() {
  local start
  start=$(date +%s.%N)
  "$@"
  echo "$(date +%s.%N) - $start" | bc
}
one_run() { "$convert" -q -j 2 -o out in; }
two_shards() {
  "$convert" -q "$@" --shard 1/2 -o out in &
  "$convert" -q "$@" --shard 2/2 -o out in &
  wait
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
one="" two="" two_j1=""
for _ in $(seq "$runs"); do
  rm -rf out; one+=$(seconds one_run)$'\n'
  rm -rf out; two+=$(seconds two_shards)$'\n'
  rm -rf out; two_j1+=$(seconds two_shards -j 1)$'\n'
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
one_m=$(printf '%s' "$one" | median)
two_m=$(printf '%s' "$two" | median)
two_j1_m=$(printf '%s' "$two_j1" | median)

"$convert" -q -f --shard 1/2 --report shard1.jsonl -o out in
split=$(python3 -c 'import json; print(json.loads(open("shard1.jsonl").readlines()[-1])["converted"])')
echo "8 files x 4 min, $(nproc) processors, medians of $runs runs"
echo "one run -j 2: $one_m s"
echo "two shards at once (default -j): $two_m s, ratio $(echo "scale=3; $two_m / $one_m" | bc) (target <= 1.05)"
echo "two shards at once (-j 1 each): $two_j1_m s, ratio $(echo "scale=3; $two_j1_m / $one_m" | bc)"
echo "FNV-1a split of the 8 files: $split in shard 1/2, $((8 - split)) in shard 2/2"
echo "load average before: $load_before; after: $load_after"
