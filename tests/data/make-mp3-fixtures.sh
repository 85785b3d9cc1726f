#!/usr/bin/env bash
# Builds the MPEG audio fixtures of the mpegdec tests into tests/data/mp3/.
#
# Deterministic and re-runnable: sox synthesizes the signals in repeatable mode without dither,
# lame (or ffmpeg for layer II) encodes them, and the damaged, tagged and wrapped variants are
# cut and assembled here byte by byte. Needs bash, sox, lame, ffmpeg and python3 (the layer I
# file is written by a few lines of Python, since no common tool encodes layer I).
#
# The files (all short clips, a few hundred KB in all):
#   cbr44_joint.mp3       MPEG 1 L3, 44.1 kHz joint stereo, CBR 128 kbit/s, LAME Info tag, 2 s
#   vbr44_joint.mp3       MPEG 1 L3, 44.1 kHz joint stereo, VBR -V5 with Xing tag, 2 s
#   cbr48_mono.mp3        MPEG 1 L3, 48 kHz mono, CBR 64, 1.5 s
#   vbr32_stereo.mp3      MPEG 1 L3, 32 kHz plain stereo (-m s), VBR -V6, 1.5 s; left and right
#                         carry different tones (channel selection tests)
#   cbr22_joint.mp3       MPEG 2 L3, 22.05 kHz joint stereo, CBR 64, 2 s
#   vbr16_mono.mp3        MPEG 2 L3, 16 kHz mono, VBR -V7, 2 s
#   cbr11_stereo.mp3      MPEG 2.5 L3, 11.025 kHz stereo, CBR 24, 1.5 s
#   cbr8_mono.mp3         MPEG 2.5 L3, 8 kHz mono, CBR 8 (frames too small for an Info tag, so no
#                         gapless trimming; deep bit reservoir), 2 s
#   notag_cbr44.mp3       as cbr44_joint but without the Info tag (lame -t): length needs a scan
#   notag_vbr22.mp3       MPEG 2 L3 22.05 kHz VBR without Xing tag (lame -t), 2 s
#   dual48.mp3            MPEG 1 L3, 48 kHz dual channel, CBR 128, 1 s
#   crc44.mp3             MPEG 1 L3, 44.1 kHz, CRC-protected frames (lame -p), 1 s
#   free44.mp3            MPEG 1 L3, 44.1 kHz free format at 200 kbit/s, 1 s
#   layer2_48.mp2         MPEG 1 L2, 48 kHz stereo, 160 kbit/s (ffmpeg), 1 s
#   layer2_24mono.mp2     MPEG 2 L2, 24 kHz mono, 64 kbit/s (ffmpeg), 1 s
#   layer1_48.mp1         MPEG 1 L1, 48 kHz stereo, 192 kbit/s, 100 frames of two subband tones
#   id3v2_big.mp3         a 300 KB ID3v2 tag (a picture made of false frame headers) and an
#                         ID3v1 tag around a 1 s 22.05 kHz mono stream
#   ape_id3v1.mp3         cbr48_mono followed by an APEv2 tag (with header) and an ID3v1 tag
#   junk_start.mp3        4 KB of junk, including false frame syncs, before cbr22_joint's frames
#   junk_middle.mp3       cbr44_joint with 4 KB of noise and false frame headers between two
#                         frames in the middle
#   truncated.mp3         vbr44_joint cut in the middle of a frame near 60 %
#   damaged.mp3           cbr44_joint with 600 bytes overwritten in the middle (a header included)
#   mono_stereo.mp3       a 44.1 kHz mono stream followed by a 44.1 kHz stereo stream, 1 s each
#   stereo_mono.mp3       the same two streams in the other order
#   rate_switch.mp3       a 44.1 kHz stereo stream followed by a 48 kHz stereo stream, 1 s each
#   mp3_in_wav.wav        cbr48_mono inside a RIFF WAVE file (format tag 0x55, odd data chunk
#                         size, a LIST chunk after the data)
#   mp2_in_wav.wav        layer2_24mono inside a RIFF WAVE file (format tag 0x50)
#   random.mp3            16 KB of noise bytes              (not MPEG audio)
#   text.mp3              a text file                       (not MPEG audio)
#   pcm.wav               a 16-bit PCM WAV file             (not MPEG audio)
#   empty.mp3             an empty file                     (not MPEG audio)
#   sync_noise.mp3        noise with a false frame header every 417 bytes for 3 frames only
#                         (not MPEG audio)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$here/mp3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*

for tool in sox lame ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# synth <file> <rate> <channels> <seconds> <sox synth effects...>: a 16-bit WAV, repeatable.
synth() {
  local file=$1 rate=$2 channels=$3 seconds=$4
  shift 4
  sox -R -D -n -r "$rate" -c "$channels" -b 16 "$file" synth "$seconds" "$@" vol 0.5
}

# enc <wav> <mp3> <lame options...>: encode at the wav's own rate (no automatic resampling).
enc() {
  local wav=$1 mp3=$2
  shift 2
  local rate
  rate=$(soxi -r "$wav")
  lame --silent --noreplaygain --resample "$(awk "BEGIN{print $rate/1000}")" "$@" "$wav" "$mp3"
}

# Little-endian integers for hand-built headers.
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }

synth "$work/s44.wav" 44100 2 2 sine 300-1200 sine 550
synth "$work/s48m.wav" 48000 1 1.5 sine 440
synth "$work/s32.wav" 32000 2 1.5 sine 440 sine 1000
synth "$work/s22.wav" 22050 2 2 sine 200-2000 sine 330
synth "$work/s16m.wav" 16000 1 2 sine 500-900
synth "$work/s11.wav" 11025 2 1.5 sine 250 sine 700
synth "$work/s8m.wav" 8000 1 2 sine 400
synth "$work/s48d.wav" 48000 2 1 sine 350 sine 800
synth "$work/s44c.wav" 44100 2 1 sine 600 sine 900
synth "$work/s22m.wav" 22050 1 1 sine 700
synth "$work/s24m.wav" 24000 1 1 sine 450
synth "$work/s48b.wav" 48000 2 1 sine 520 sine 780
synth "$work/m44.wav" 44100 1 1 sine 480
synth "$work/t44.wav" 44100 2 1 sine 640 sine 960
synth "$work/t48.wav" 48000 2 1 sine 320 sine 720

enc "$work/s44.wav" "$out/cbr44_joint.mp3" -b 128 -m j
enc "$work/s44.wav" "$out/vbr44_joint.mp3" -V 5 -m j
enc "$work/s48m.wav" "$out/cbr48_mono.mp3" -b 64 -m m
enc "$work/s32.wav" "$out/vbr32_stereo.mp3" -V 6 -m s
enc "$work/s22.wav" "$out/cbr22_joint.mp3" -b 64 -m j
enc "$work/s16m.wav" "$out/vbr16_mono.mp3" -V 7 -m m
enc "$work/s11.wav" "$out/cbr11_stereo.mp3" -b 24 -m s
enc "$work/s8m.wav" "$out/cbr8_mono.mp3" -b 8 -m m
enc "$work/s44.wav" "$out/notag_cbr44.mp3" -b 128 -m j -t
enc "$work/s22.wav" "$out/notag_vbr22.mp3" -V 6 -m j -t
enc "$work/s48d.wav" "$out/dual48.mp3" -b 128 -m d
enc "$work/s44c.wav" "$out/crc44.mp3" -b 96 -m j -p
enc "$work/s44c.wav" "$out/free44.mp3" -b 200 -m j --freeformat

ffmpeg -nostdin -loglevel error -i "$work/s48b.wav" -c:a mp2 -b:a 160k -fflags +bitexact \
  -flags +bitexact -f mp2 "$out/layer2_48.mp2"
ffmpeg -nostdin -loglevel error -i "$work/s24m.wav" -c:a mp2 -b:a 64k -fflags +bitexact \
  -flags +bitexact -f mp2 "$out/layer2_24mono.mp2"

# Layer I: 48 kHz stereo at 192 kbit/s gives 192-byte frames without padding. Each frame holds
# 12 samples of subband 1 (left) and subband 3 (right) at 8 bits; everything else is silent.
python3 - "$out/layer1_48.mp1" <<'EOF'
import math, sys
frames = []
for f in range(100):
    bits = []
    def put(value, n):
        for i in reversed(range(n)):
            bits.append((value >> i) & 1)
    put(0xFFFF, 16)            # sync, MPEG 1, layer I, no CRC
    put(0b0110_01_0_0, 8)      # 192 kbit/s, 48 kHz, no padding, private 0
    put(0b00_00_0_0_00, 8)     # stereo, no extension, no copyright, copy, no emphasis
    alloc = {(1, 0): 7, (3, 1): 7}
    for sb in range(32):
        for ch in range(2):
            put(alloc.get((sb, ch), 0), 4)
    for sb in range(32):
        for ch in range(2):
            if (sb, ch) in alloc:
                put(6, 6)
    for s in range(12):
        n = f * 12 + s
        for sb in range(32):
            for ch in range(2):
                if (sb, ch) in alloc:
                    step = 0.7 if ch == 0 else 1.3
                    put(127 + int(round(90 * math.sin(n * step))), 8)
    bits += [0] * (192 * 8 - len(bits))
    frames.append(bytes(int(''.join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8)))
open(sys.argv[1], 'wb').write(b''.join(frames))
EOF

# A 300 KB ID3v2.3 tag before, and an ID3v1 tag after, a mono 22.05 kHz stream. The tag holds a
# picture frame whose bytes are a chain of false layer III frame headers (one every 417 bytes),
# so anything that reads into the tag finds "frames" there.
enc "$work/s22m.wav" "$work/tagged.mp3" -b 32 -m m --tt "Big tag" --ta "Fixture" --id3v1-only
python3 - "$work/tagged.mp3" "$out/id3v2_big.mp3" <<'EOF'
import struct, sys
def frame(ident, body):
    return ident + struct.pack('>IH', len(body), 0) + body
fake = (b'\xff\xfb\x90\x64' + bytes(413)) * 720
frames = frame(b'TIT2', b'\x00Big tag') + frame(b'APIC', b'\x00image/jpeg\x00\x03\x00' + fake)
body = frames + bytes(1000)  # padding
size = len(body)
syncsafe = bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
audio = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(b'ID3\x03\x00\x00' + syncsafe + body + audio)
EOF

# An APEv2 tag (header, one item, footer) and an ID3v1 tag after the frames.
{
  cat "$out/cbr48_mono.mp3"
  item_value="Fixture"
  item_size=$((8 + 6 + 1 + ${#item_value}))
  tag_size=$((item_size + 32))
  printf 'APETAGEX'; le32 2000; le32 "$tag_size"; le32 1; le32 $((0xA0000000)); le32 0; le32 0
  le32 ${#item_value}; le32 0; printf 'Artist\0%s' "$item_value"
  printf 'APETAGEX'; le32 2000; le32 "$tag_size"; le32 1; le32 $((0x80000000)); le32 0; le32 0
  printf 'TAG%-30s%-30s%-30s%-4s%-30s\xff' "Title" "Artist" "Album" "2000" "Comment"
} >"$out/ape_id3v1.mp3"

# Junk before the first frame: text, zeros, and bytes that look like frame syncs.
{
  for i in $(seq 1 49); do printf 'junk line %03d before the audio starts ....................\n' "$i"; done
  printf '..........\n'
  printf '\xff\xfb\x90\x00\xff\xfb\x90\x64\xff\xf3\xff\xe0'
  head -c 1084 /dev/zero
  cat "$out/cbr22_joint.mp3"
} >"$out/junk_start.mp3"

# 4 KB of noise with scattered false frame headers between frames 40 and 41 of cbr44_joint.
python3 - "$out/cbr44_joint.mp3" "$out/junk_middle.mp3" <<'EOF'
import random, sys
data = open(sys.argv[1], 'rb').read()
at = 0
for _ in range(40):  # 128 kbit/s at 44.1 kHz: 417 bytes, 418 when padded
    at += 417 + ((data[at + 2] >> 1) & 1)
r = random.Random(11)
junk = bytearray(r.randbytes(4096))
for i in range(100, 4000, 397):
    junk[i:i + 4] = b'\xff\xfb\x90\x64'
open(sys.argv[2], 'wb').write(data[:at] + bytes(junk) + data[at:])
EOF

# Truncated in the middle of a frame: the cut lands 100 bytes into the frame found near 60 %.
size=$(stat -c %s "$out/vbr44_joint.mp3")
cut=$(python3 - "$out/vbr44_joint.mp3" $((size * 6 / 10)) <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
i = int(sys.argv[2])
while not (data[i] == 0xFF and data[i + 1] & 0xFE == 0xFA):
    i += 1
print(i + 100)
EOF
)
head -c "$cut" "$out/vbr44_joint.mp3" >"$out/truncated.mp3"

# 600 bytes overwritten in the middle (covers at least one frame header).
cp "$out/cbr44_joint.mp3" "$out/damaged.mp3"
size=$(stat -c %s "$out/damaged.mp3")
python3 - "$out/damaged.mp3" $((size / 2)) <<'EOF'
import sys
path, at = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, 'rb').read())
for i in range(600):
    data[at + i] = (i * 37 + 11) & 0xFF
open(path, 'wb').write(data)
EOF

# Streams whose channel count or rate changes part-way.
enc "$work/m44.wav" "$work/part_mono.mp3" -b 64 -m m
enc "$work/t44.wav" "$work/part_stereo.mp3" -b 128 -m j
enc "$work/t48.wav" "$work/part_48.mp3" -b 128 -m j
cat "$work/part_mono.mp3" "$work/part_stereo.mp3" >"$out/mono_stereo.mp3"
cat "$work/part_stereo.mp3" "$work/part_mono.mp3" >"$out/stereo_mono.mp3"
cat "$work/part_stereo.mp3" "$work/part_48.mp3" >"$out/rate_switch.mp3"

# riff_wrap <payload> <wav> <fmt chunk bytes file>: RIFF WAVE with fmt, fact, data and a trailing
# LIST chunk; an odd data size gets its pad byte.
riff_wrap() {
  local payload=$1 wav=$2 fmt=$3
  local data_size fmt_size pad=0 list_size=22
  data_size=$(stat -c %s "$payload")
  fmt_size=$(stat -c %s "$fmt")
  ((data_size % 2)) && pad=1
  {
    printf 'RIFF'; le32 $((4 + 8 + fmt_size + 12 + 8 + data_size + pad + 8 + list_size)); printf 'WAVE'
    printf 'fmt '; le32 "$fmt_size"; cat "$fmt"
    printf 'fact'; le32 4; le32 0
    printf 'data'; le32 "$data_size"; cat "$payload"
    ((pad)) && printf '\0'
    printf 'LIST'; le32 "$list_size"; printf 'INFOICMT'; le32 9; printf 'fixture\xff\xfb\0'
  } >"$wav"
}
# The payload of mp3_in_wav gets one extra byte so the data chunk size is odd.
{ cat "$out/cbr48_mono.mp3"; printf '\0'; } >"$work/payload.mp3"
{
  le16 $((0x55)); le16 1; le32 48000; le32 8000; le16 1; le16 0; le16 12
  le16 1; le32 2; le16 192; le16 1; le16 1393
} >"$work/fmt55"
riff_wrap "$work/payload.mp3" "$out/mp3_in_wav.wav" "$work/fmt55"
{
  le16 $((0x50)); le16 1; le32 24000; le32 8000; le16 384; le16 0; le16 22
  le16 2; le32 64000; le16 8; le16 0; le16 1; le16 0; le32 0; le32 0
} >"$work/fmt50"
riff_wrap "$out/layer2_24mono.mp2" "$out/mp2_in_wav.wav" "$work/fmt50"

# Files that are not MPEG audio.
sox -R -D -n -r 8000 -c 1 -b 16 -e signed -t raw "$out/random.mp3" synth 1 whitenoise
printf 'This is a text file.\nIt only pretends to be an MP3 file.\n' >"$out/text.mp3"
sox -R -D -n -r 22050 -c 1 -b 16 "$out/pcm.wav" synth 0.5 sine 440
: >"$out/empty.mp3"
{
  python3 -c 'import random, sys
r = random.Random(7)
sys.stdout.buffer.write(b"".join(b"\xff\xfb\x90\x64" + r.randbytes(413) for _ in range(3)) + r.randbytes(4000))'
} >"$out/sync_noise.mp3"

ls -l "$out"
du -b --apparent-size -s "$out"

# The facts the tests keep (tests/mpegdec/FixtureFactsTest.cpp): frames as mpg123 counts them,
# and the samples, rate and channels of its gapless decode. Files it refuses print nothing.
# mpg123 starts its output file again when the format changes, so for mono_stereo,
# stereo_mono and rate_switch this shows the last part only (the tests decode the first two
# with --mono and --stereo); it also plays the three false frames of sync_noise, which the
# decoder library refuses.
if command -v mpg123 >/dev/null; then
  printf '%-20s %7s %9s %6s %3s\n' file frames samples rate ch
  for file in "$out"/*; do
    wav="$work/facts.wav"
    rm -f "$wav"
    mpg123 -q -w "$wav" "$file" 2>/dev/null || continue
    [ -s "$wav" ] || continue
    frames=$(mpg123 -t -v "$file" 2>&1 | tr '\r' '\n' | grep -oE '^> [0-9]+' | tail -1 | tr -dc 0-9)
    printf '%-20s %7s %9s %6s %3s\n' "$(basename "$file")" "$((10#$frames))" "$(soxi -s "$wav")" \
      "$(soxi -r "$wav")" "$(soxi -c "$wav")"
  done
fi
