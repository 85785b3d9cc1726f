#!/usr/bin/env bash
# Builds the seed corpus of every fuzzing harness under OUTDIR/<harness>/ from the test fixtures
# and from compressed WAV files that sox makes here. Needs bash, coreutils and sox.
#
#   wave_reader   the WAV fixtures, tests/data/wav/*, the sox-made WAVs, and a WAV with INFO and
#                 DISP lists built here byte by byte
#   riff_lists    the WAV with lists, a bare list chunk sequence, and the WAV fixtures
#   mpegdec       every file of tests/data/mp3/
#   acm_<driver>  for each sox-made WAV of the driver's format: a control byte asking for the
#                 format fields as given, the "fmt " fields after the tag, the extra bytes, then
#                 the "data" bytes (the input layout is described in FuzzAcmDecode.cpp)
set -euo pipefail

if (($# != 1)); then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
out=$1
fixtures=$root/tests/data
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

harnesses=(wave_reader riff_lists mpegdec acm_alaw acm_mulaw acm_ima_adpcm acm_ms_adpcm acm_gsm)
for h in "${harnesses[@]}"; do
  rm -rf "${out:?}/$h"
  mkdir -p "$out/$h"
done

# ---- byte builders ----
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
# chunk ID < body: the chunk with its size and, after an odd body, a pad byte.
chunk() {
  local body=$tmp/chunk.$BASHPID
  cat >"$body"
  local n
  n=$(stat -c %s "$body")
  printf '%s' "$1"
  le32 "$n"
  cat "$body"
  if ((n & 1)); then printf '\0'; fi
  rm -f "$body"
}
ramp() { head -c "$1" /dev/zero | tr '\0' '\125'; }

# ---- WAV files with lists ----
pcm_fmt() { { le16 1; le16 1; le32 8000; le32 16000; le16 2; le16 16; } | chunk 'fmt '; }
info_list() {
  {
    printf 'INFO'
    printf 'name\0' | chunk INAM
    printf 'odd!\0' | chunk ICMT
    printf 'an artist\0' | chunk IART
    printf '2026\0' | chunk ICRD
  } | chunk LIST
}
disp_chunks() {
  { le32 1; printf 'display text\0'; } | chunk DISP
  # A bitmap: 40-byte header (size 40, 4 x 2 pixels, 1 plane, 8 bits, image 8 bytes, 2 colours)
  # then the colour table and the pixels.
  {
    le32 8; le32 40; le32 4; le32 2; le16 1; le16 8; le32 0; le32 8; le32 0; le32 0; le32 2
    le32 0
    le32 0; le32 16777215; ramp 8
  } | chunk DISP
}
{
  printf 'WAVE'
  pcm_fmt
  info_list
  disp_chunks
  ramp 64 | chunk data
  le32 32 | chunk fact
} | chunk RIFF >"$out/wave_reader/lists.wav"
cp "$out/wave_reader/lists.wav" "$out/riff_lists/lists.wav"
{ info_list; disp_chunks; } >"$out/riff_lists/bare-lists.bin"

# ---- WAV files made by sox ----
sox -R -D -n -r 22050 -c 2 -b 16 "$tmp/stereo.wav" synth 0.3 sine 440 sine 660
sox -R -D -n -r 8000 -c 1 -b 16 "$tmp/mono.wav" synth 1 sine 300-3000
sox -R -D -n -r 11025 -c 1 -b 16 "$tmp/noise.wav" synth 0.3 whitenoise gain -1
declare -A encoding=([alaw]=a-law [mulaw]=u-law [ima_adpcm]=ima-adpcm [ms_adpcm]=ms-adpcm)
for driver in "${!encoding[@]}"; do
  for base in stereo mono noise; do
    sox -D "$tmp/$base.wav" -e "${encoding[$driver]}" "$tmp/${driver}_$base.wav"
  done
done
sox -D "$tmp/mono.wav" -e gsm-full-rate "$tmp/gsm_mono.wav"
sox -D "$tmp/noise.wav" -r 8000 -e gsm-full-rate "$tmp/gsm_noise.wav"

# bytes FILE OFFSET COUNT
bytes() { dd if="$1" iflag=skip_bytes,count_bytes bs=65536 skip="$2" count="$3" status=none; }
# Prints "offset size" of the first chunk ID of a RIFF file.
find_chunk() {
  local file=$1 id=$2 pos=12 total name size
  total=$(stat -c %s "$file")
  while ((pos + 8 <= total)); do
    name=$(bytes "$file" "$pos" 4)
    size=$(od -An -tu4 -j $((pos + 4)) -N4 "$file" | tr -d ' ')
    if [[ $name == "$id" ]]; then
      echo "$((pos + 8)) $size"
      return 0
    fi
    pos=$((pos + 8 + size + (size & 1)))
  done
  return 1
}

# An ACM seed: control byte, the format fields after the tag (cbSize 0 when the chunk has none),
# at most 64 extra bytes, the data.
acm_seed() {
  local wav=$1 control=$2 fmt fmtSize data dataSize
  read -r fmt fmtSize < <(find_chunk "$wav" 'fmt ')
  read -r data dataSize < <(find_chunk "$wav" data)
  printf "\\x$(printf %02x "$control")"
  bytes "$wav" $((fmt + 2)) 14
  if ((fmtSize >= 18)); then
    bytes "$wav" $((fmt + 16)) 2
    bytes "$wav" $((fmt + 18)) $((fmtSize - 18 < 64 ? fmtSize - 18 : 64))
  else
    le16 0
  fi
  bytes "$wav" "$data" "$dataSize"
}
for wav in "$tmp"/*_*.wav; do
  name=$(basename "$wav" .wav)
  driver=${name%_*}
  cp "$wav" "$out/wave_reader/"
  # Fields as given (kind 3), with the smallest source buffer and with one of 4096 bytes.
  acm_seed "$wav" $((3)) >"$out/acm_$driver/$name-small.bin"
  acm_seed "$wav" $((3 | 2 << 6)) >"$out/acm_$driver/$name-large.bin"
done

# ---- fixtures ----
for wav in "$fixtures"/mp3/*.wav "$fixtures"/wav/*.wav "$fixtures"/wav/*.WAV; do
  [[ -f $wav ]] || continue
  cp "$wav" "$out/wave_reader/"
  cp "$wav" "$out/riff_lists/"
done
cp "$fixtures"/mp3/* "$fixtures"/mpeg-found/*.mp3 "$out/mpegdec/"

for h in "${harnesses[@]}"; do
  echo "$h: $(find "$out/$h" -type f | wc -l) seeds"
done
