#!/usr/bin/env bash
# What tags, RF64 and normalization cost quelbarin-convert, on the 4-minute 192 kbps stereo MP3
# of run-mp3-bench.sh (here with an ID3v2 tag and a picture of about 200 KB): plain against --no-tags,
# against mpg123 -w; --normalize peak and loudness against a plain conversion and against
# ffmpeg's two-pass loudnorm; and, with LONG=1, the write rate of an RF64 output (3.5 h of float,
# 4.4 GB) against a RIFF one just under the limit (3.3 h, 4.2 GB). Medians of N runs.
# Usage: bench/run-cli-features-bench.sh BUILD-DIR [WORK-FOLDER] [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
work_root=${2:-/tmp}
runs=${3:-5}
convert="$build/bin/quelbarin-convert"
[ -x "$convert" ] || { echo "build quelbarin-convert first" >&2; exit 2; }
for tool in sox lame mpg123 ffmpeg python3 /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 2; }
done
work=$(mktemp -d "$work_root/qd-features-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench-common.sh"
make_mix "$work/mix.wav"
ffmpeg -v quiet -f lavfi -i testsrc=size=1280x960 -frames:v 1 -q:v 2 "$work/cover.jpg"
lame --quiet -b 192 --tt "Title" --ta "Artist" --tl "Album" --ty 2026 --tn 3 \
  --ti "$work/cover.jpg" "$work/mix.wav" "$work/in.mp3"

q=("$convert" -q -f)
time_cmd mpg123 mpg123 -q -w "$work/mpg123.wav" "$work/in.mp3"
time_cmd tags "${q[@]}" -o "$work/out" "$work/in.mp3"
time_cmd notags "${q[@]}" --no-tags -o "$work/out" "$work/in.mp3"
time_cmd peak "${q[@]}" --normalize peak -o "$work/out" "$work/in.mp3"
time_cmd loudness "${q[@]}" --normalize loudness -o "$work/out" "$work/in.mp3"
loudnorm() {
  ffmpeg -v info -nostats -hide_banner -y -i "$work/in.mp3" \
    -af loudnorm=I=-23:TP=-1:print_format=json -f null - 2> "$work/ln.txt"
  eval "$(python3 - "$work/ln.txt" <<'PY'
import json, re, sys
text = open(sys.argv[1]).read()
m = json.loads(text[text.rindex('{'):text.rindex('}') + 1])
print(f"mi={m['input_i']} mtp={m['input_tp']} mlra={m['input_lra']} mth={m['input_thresh']}")
PY
)"
  ffmpeg -v quiet -y -i "$work/in.mp3" -af \
    "loudnorm=I=-23:TP=-1:measured_I=$mi:measured_TP=$mtp:measured_LRA=$mlra:measured_thresh=$mth:linear=true" \
    -ar 44100 "$work/loudnorm.wav"
}
export -f loudnorm
export work
time_cmd loudnorm bash -c loudnorm

echo "4-minute 192 kbps stereo MP3 with tags and a picture, medians of $runs runs"
printf '%-44s %9s\n' "command" "wall (s)"
printf '%-44s %9s\n' "mpg123 -w" "${wall[mpg123]}" "quelbarin-convert (tags)" "${wall[tags]}" \
  "quelbarin-convert --no-tags" "${wall[notags]}" "quelbarin-convert --normalize peak" \
  "${wall[peak]}" "quelbarin-convert --normalize loudness" "${wall[loudness]}" \
  "ffmpeg loudnorm, two passes" "${wall[loudnorm]}"
ratio() { echo "scale=3; $1 / $2" | bc; }
echo "tags / mpg123 -w:            $(ratio "${wall[tags]}" "${wall[mpg123]}")"
echo "tags / no tags:              $(ratio "${wall[tags]}" "${wall[notags]}")"
echo "normalize peak / plain:      $(ratio "${wall[peak]}" "${wall[tags]}") (target <= 2.2)"
echo "normalize loudness / plain:  $(ratio "${wall[loudness]}" "${wall[tags]}") (target <= 2.2)"
echo "normalize loudness / ffmpeg loudnorm: $(ratio "${wall[loudness]}" "${wall[loudnorm]}") (target < 1)"

# A 16-bit PCM WAV of 8 minutes (85 MB) without options, whose data go over as they are, against
# cp of the same file, each into a new file (the one before is removed first, untimed); timed to
# the microsecond, as both take tens of milliseconds.
sox "$work/mix.wav" "$work/mix.wav" "$work/pcm16.wav"
time_fine() {
  local name=$1 made=$2; shift 2
  local t="" start
  for _ in $(seq "$runs"); do
    rm -f "$made"
    sync
    start=$EPOCHREALTIME
    "$@" > /dev/null 2>&1
    t+="$(echo "$EPOCHREALTIME - $start" | bc)"$'\n'
  done
  wall[$name]=$(printf '%s' "$t" | median)
}
time_fine wav "$work/out/pcm16.WAV" "${q[@]}" -o "$work/out" "$work/pcm16.wav"
time_fine cp "$work/copy.wav" cp "$work/pcm16.wav" "$work/copy.wav"
# The data follow a 44-byte header in sox's file and a 46-byte one (an 18-byte "fmt ") in ours.
cmp -s -n "$(($(stat -c %s "$work/pcm16.wav") - 44))" -i 44:46 "$work/pcm16.wav" \
  "$work/out/pcm16.WAV" || { echo "the WAV's data differ from the source's" >&2; exit 1; }
echo "16-bit PCM WAV, 85 MB: quelbarin-convert ${wall[wav]} s, cp ${wall[cp]} s," \
  "ratio $(ratio "${wall[wav]}" "${wall[cp]}") (target <= 2)"

if [ "${LONG:-0}" = 1 ]; then
  # 32 kbit/s frames repeated: 3.3 h and 3.5 h of 44.1 kHz stereo, as 32-bit float.
  sox -n -r 44100 -c 2 -b 16 "$work/one.wav" synth 1 sine 440 2> /dev/null
  lame --quiet -b 32 -t --resample 44.1 "$work/one.wav" "$work/one.mp3"
  for n in 11300 12600; do
    python3 -c "import sys; d=open(sys.argv[1],'rb').read(); open(sys.argv[2],'wb').write(d*int(sys.argv[3]))" \
      "$work/one.mp3" "$work/long$n.mp3" "$n"
    rm -rf "$work/long"; mkdir -p "$work/long"
    /usr/bin/time -f "%e" -o "$work/time.txt" "$convert" -q --bits 32f -o "$work/long" \
      "$work/long$n.mp3"
    bytes=$(stat -c %s "$work/long/long$n.WAV")
    kind=$(head -c 4 "$work/long/long$n.WAV")
    secs=$(cat "$work/time.txt")
    echo "$kind $bytes bytes in $secs s: $(echo "scale=1; $bytes / $secs / 1000000" | bc) MB/s"
    rm -rf "$work/long"
  done
fi
