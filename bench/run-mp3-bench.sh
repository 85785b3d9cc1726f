#!/usr/bin/env bash
# MP3 to WAV, side by side: quelbarin-convert, mpg123 -w, ffmpeg and sox on a 4-minute 192 kbps
# stereo MP3 (made here by lame from a sox-synthesised mix), medians of N runs; the trigger chain
# against decoding alone; eight files with -j 2 against mpg123 one after another.
# Usage: bench/run-mp3-bench.sh BUILD-DIR [WORK-FOLDER] [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
work_root=${2:-/tmp}
runs=${3:-5}
bin="$build/bin"
[ -x "$bin/quelbarin-convert" ] || { echo "build quelbarin-convert first" >&2; exit 2; }
[ -x "$bin/mp3_chain_bench" ] || { echo "build mp3_chain_bench first" >&2; exit 2; }
for tool in sox lame mpg123 ffmpeg /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 2; }
done
work=$(mktemp -d "$work_root/qd-mp3-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench-common.sh"
make_mix "$work/mix.wav"
lame --quiet -b 192 "$work/mix.wav" "$work/in.mp3"
for i in 1 2 3 4 5 6 7 8; do cp "$work/in.mp3" "$work/in$i.mp3"; done
sox_mp3=yes
sox "$work/in.mp3" -n stat 2> /dev/null || sox_mp3=no  # sox without its MP3 handler


mkdir -p "$work/out"
time_cmd quelbarin "$bin/quelbarin-convert" -q -f -j 1 -o "$work/out" "$work/in.mp3"
time_cmd mpg123 mpg123 -q -w "$work/mpg123.wav" "$work/in.mp3"
time_cmd ffmpeg ffmpeg -v quiet -y -i "$work/in.mp3" "$work/ffmpeg.wav"
if [ "$sox_mp3" = yes ]; then time_cmd sox sox "$work/in.mp3" "$work/sox.wav"; fi

# The trigger chain of the window against decoding alone plus the 1 ms pause per block.
ratios="" dratios=""
for _ in $(seq "$runs"); do
  "$bin/mp3_chain_bench" "$work/in.mp3" "$work/chain.wav" > "$work/chain.txt"
  ratios+=$(sed -n 's/^ratio=//p' "$work/chain.txt")$'\n'
  dratios+=$(sed -n 's/^ratio_decode=//p' "$work/chain.txt")$'\n'
done
chain_ratio=$(printf '%s' "$ratios" | median)
decode_ratio=$(printf '%s' "$dratios" | median)

# Eight files: -j 2 against mpg123 one after another.
seq_w="" par_w=""
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  for i in 1 2 3 4 5 6 7 8; do mpg123 -q -w "$work/seq$i.wav" "$work/in$i.mp3"; done
  seq_w+=$(echo "$(date +%s.%N) - $start" | bc)$'\n'
  rm -rf "$work/par"; mkdir -p "$work/par"
  start=$(date +%s.%N)
  "$bin/quelbarin-convert" -q -j 2 -o "$work/par" "$work"/in[1-8].mp3
  par_w+=$(echo "$(date +%s.%N) - $start" | bc)$'\n'
done
seq_m=$(printf '%s' "$seq_w" | median)
par_m=$(printf '%s' "$par_w" | median)

echo "4-minute 192 kbps stereo MP3, medians of $runs runs"
printf '%-34s %10s %12s\n' "command" "wall (s)" "peak RSS (MiB)"
for name in quelbarin mpg123 ffmpeg sox; do
  [ -n "${wall[$name]:-}" ] || continue
  printf '%-34s %10s %12s\n' "$name" "${wall[$name]}" "$(echo "scale=1; ${rss[$name]} / 1024" | bc)"
done
echo "quelbarin-convert / mpg123 -w:      $(echo "scale=3; ${wall[quelbarin]} / ${wall[mpg123]}" | bc) (target <= 1.0)"
echo "trigger chain / (same conversion without pauses + blocks x 1 ms): $chain_ratio (target <= 1.10)"
echo "trigger chain / (decoding alone + blocks x 1 ms):                 $decode_ratio"
echo "8 files: mpg123 one after another ${seq_m} s, quelbarin-convert -j 2 ${par_m} s," \
  "speed-up $(echo "scale=2; $seq_m / $par_m" | bc) (target >= 1.7)"
