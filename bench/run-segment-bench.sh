#!/usr/bin/env bash
# One file on every core: quelbarin-convert with the default -j (one thread per processor, the
# idle ones decoding segments of the running file) against mpg123 -w, on a 4-minute and a
# 60-minute 192 kbps stereo MP3, with peak memory; and eight 4-minute files with -j 2 against
# mpg123 one after another. Medians of N runs.
# Usage: bench/run-segment-bench.sh BUILD-DIR [WORK-FOLDER] [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
work_root=${2:-/tmp}
runs=${3:-5}
convert="$build/bin/quelbarin-convert"
[ -x "$convert" ] || { echo "build quelbarin-convert first" >&2; exit 2; }
for tool in sox lame mpg123 bc python3 /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 2; }
done
work=$(mktemp -d "$work_root/qd-segment-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench-common.sh"
make_mix "$work/mix.wav"
lame --quiet -b 192 "$work/mix.wav" "$work/in4.mp3"
sox "$work/mix.wav" "$work/mix60.wav" repeat 14 2> /dev/null
lame --quiet -b 192 "$work/mix60.wav" "$work/in60.mp3"
rm -f "$work/mix.wav" "$work/mix60.wav"
for i in 1 2 3 4 5 6 7 8; do cp "$work/in4.mp3" "$work/f$i.mp3"; done

# data_equal A B: exit 0 when the "data" chunks of two WAVE files hold the same bytes.
data_equal="$work/data_equal.py"
cat > "$data_equal" <<'PY'
import struct, sys
def data(path):
    b = open(path, 'rb').read()
    at = 12
    while at + 8 <= len(b):
        cid, size = b[at:at + 4], struct.unpack('<I', b[at + 4:at + 8])[0]
        if cid == b'data':
            return b[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
sys.exit(0 if data(sys.argv[1]) == data(sys.argv[2]) else 1)
PY
for len in 4 60; do
  time_cmd "mpg123-$len" mpg123 -q -w "$work/out.wav" "$work/in$len.mp3"
  time_cmd "ours-$len" "$convert" -q -f -o "$work/out" "$work/in$len.mp3"
  time_cmd "ours1-$len" "$convert" -q -f -j 1 -o "$work/out" "$work/in$len.mp3"
  python3 "$data_equal" "$work/out.wav" "$work/out/in$len.WAV" && same=yes || same=no
  rm -f "$work/out.wav"
  echo "$len-minute file: mpg123 -w ${wall[mpg123-$len]} s," \
    "quelbarin-convert -j 1 ${wall[ours1-$len]} s," \
    "quelbarin-convert ${wall[ours-$len]} s ($(nproc) threads), peak RSS" \
    "$(echo "scale=1; ${rss[ours-$len]} / 1024" | bc) MiB;" \
    "ratio $(echo "scale=3; ${wall[ours-$len]} / ${wall[mpg123-$len]}" | bc) (target <= 0.60);" \
    "samples equal to mpg123's: $same"
done

seq_w="" par_w=""
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  for i in 1 2 3 4 5 6 7 8; do mpg123 -q -w "$work/seq$i.wav" "$work/f$i.mp3"; done
  seq_w+=$(echo "$(date +%s.%N) - $start" | bc)$'\n'
  rm -rf "$work/par" "$work"/seq*.wav
  start=$(date +%s.%N)
  "$convert" -q -j 2 -o "$work/par" "$work"/f[1-8].mp3
  par_w+=$(echo "$(date +%s.%N) - $start" | bc)$'\n'
done
seq_m=$(printf '%s' "$seq_w" | median)
par_m=$(printf '%s' "$par_w" | median)
echo "8 files: mpg123 one after another $seq_m s, quelbarin-convert -j 2 $par_m s," \
  "ratio $(echo "scale=3; $par_m / $seq_m" | bc) (target <= 0.50)"
