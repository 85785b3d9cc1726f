#!/usr/bin/env bash
# Draws every picture of the window into app/pictures/: the banner, the program icon (hicolor
# sizes and SVG), the about window's icon and picture, the tree leaves and the button glyphs,
# and writes the Qt resource file that lists them. The results are committed; run this again
# after changing a design.
#
# Needs ImageMagick (convert), Python 3 and the DejaVu fonts (fonts-dejavu-core).
# Shapes are written as ImageMagick draw commands (MVG) by small Python programs, so curves come
# from their formulas; small glyphs are drawn four times larger and box-filtered down, which
# gives clean anti-aliased edges on the pixel grid.
set -euo pipefail
cd "$(dirname "$0")/.."

out=app/pictures
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

font_file() { fc-match -f '%{file}' "$1"; }
sans=$(font_file 'DejaVu Sans')
sans_bold=$(font_file 'DejaVu Sans:bold')
case "$sans_bold" in *DejaVuSans-Bold*) ;; *)
  echo "make-pictures: DejaVu Sans Bold not found (install fonts-dejavu-core)" >&2
  exit 1 ;;
esac

# Deterministic files: no dates or tool versions inside PNGs.
png_opts=(-strip -depth 8 -define png:exclude-chunks=date,time)

# ---------------------------------------------------------------------------------------------
# Program icon: a rounded violet tile with a golden sine that turns into a cyan square wave of
# the same period (the MP3 signal becoming PCM). One geometry, drawn at 512 px, written as MVG
# for ImageMagick and as SVG.
python3 - "$work" <<'EOF'
import math, sys
work = sys.argv[1]
S = 512
left, right, mid_y, amp = 92, 420, 256, 112
split = (left + right) / 2
period = split - left
square_amp = 0.85 * amp

smooth = [(left + i * period / 64, mid_y - amp * math.sin(2 * math.pi * i / 64)) for i in range(65)]
high, low = mid_y - square_amp, mid_y + square_amp
square = [(split, mid_y), (split, high), (split + period / 2, high), (split + period / 2, low),
          (right, low), (right, mid_y)]

def pts(points, dx=0, dy=0):
    return " ".join(f"{x + dx:.1f},{y + dy:.1f}" for x, y in points)

with open(f"{work}/icon.mvg", "w") as f:
    f.write(f"""push graphic-context
fill none
stroke-linecap round
stroke-linejoin round
stroke #12052e70
stroke-width 52
polyline {pts(smooth, 6, 10)}
polyline {pts(square, 6, 10)}
stroke #ffd23f
stroke-width 40
polyline {pts(smooth)}
stroke #46e0ff
polyline {pts(square)}
pop graphic-context
""")

with open(f"{work}/quelbarin.svg", "w") as f:
    f.write(f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="{S}" height="{S}" viewBox="0 0 {S} {S}">
  <title>Quelbarin Decoder</title>
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#6a4fd8"/>
      <stop offset="1" stop-color="#24084f"/>
    </linearGradient>
  </defs>
  <rect x="16" y="16" width="480" height="480" rx="104" fill="url(#tile)"/>
  <rect x="26" y="26" width="460" height="460" rx="96" fill="none" stroke="#ffffff"
        stroke-opacity="0.25" stroke-width="6"/>
  <g fill="none" stroke-linecap="round" stroke-linejoin="round">
    <g stroke="#12052e" stroke-opacity="0.44" stroke-width="52">
      <polyline points="{pts(smooth, 6, 10)}"/>
      <polyline points="{pts(square, 6, 10)}"/>
    </g>
    <polyline stroke="#ffd23f" stroke-width="40" points="{pts(smooth)}"/>
    <polyline stroke="#46e0ff" stroke-width="40" points="{pts(square)}"/>
  </g>
</svg>
""")
EOF
convert -size 512x512 gradient:'#6a4fd8'-'#24084f' \
  \( -size 512x512 xc:black -fill white -draw 'roundrectangle 16,16 495,495 104,104' \) \
  -alpha off -compose CopyOpacity -composite -compose Over \
  -fill none -stroke '#ffffff40' -strokewidth 6 -draw 'roundrectangle 26,26 485,485 96,96' \
  -draw "$(cat "$work/icon.mvg")" "$work/icon-512.png"
cp "$work/quelbarin.svg" "$out/quelbarin.svg"
for size in 256 128 48; do
  convert "$work/icon-512.png" -filter Box -resize "${size}x${size}" "${png_opts[@]}" \
    "$out/quelbarin-$size.png"
done
# The about window's icon: 32 x 32 in 16 colours (one of them transparent), as classic icons.
convert "$work/icon-512.png" -filter Box -resize 32x32 \
  -channel A -threshold 50% +channel -dither None -colors 16 \
  -define png:color-type=3 -define png:bit-depth=4 "${png_opts[@]}" "PNG8:$out/icon.png"

# ---------------------------------------------------------------------------------------------
# Banner (420 x 56): night-violet gradient, a faint sine turning into steps across the whole
# strip, the icon, the product name and the conversion it does.
python3 - "$work" <<'EOF'
import math, sys
work = sys.argv[1]
W, H = 420, 56
def y(x, amp, cycles, phase):
    return H / 2 - amp * math.sin(2 * math.pi * cycles * x / W + phase) * (0.35 + 0.65 * math.sin(math.pi * x / W))
with open(f"{work}/banner.mvg", "w") as f:
    f.write("push graphic-context\nfill none\nstroke-linejoin round\n")
    for amp, cycles, phase, colour, width in ((20, 5.5, 0.0, "#8f7cff55", 2.0),
                                              (14, 8.0, 1.3, "#46e0ff40", 1.5)):
        pts = " ".join(f"{x:.1f},{y(x, amp, cycles, phase):.1f}" for x in range(0, 211, 2))
        f.write(f"stroke {colour}\nstroke-width {width}\npolyline {pts}\n")
        step = 7
        stairs = []
        for x0 in range(210, W, step):
            v = y(x0 + step / 2, amp, cycles, phase)
            stairs += [(x0, v), (x0 + step, v)]
        f.write("polyline " + " ".join(f"{a:.1f},{b:.1f}" for a, b in stairs) + "\n")
    f.write("pop graphic-context\n")
EOF
convert -size 56x420 gradient:'#12052e'-'#4b2fa6' -rotate -90 \
  \( -size 420x56 gradient:'#ffffff18'-'#00000030' \) -compose Over -composite \
  -draw "$(cat "$work/banner.mvg")" \
  -fill '#ffffff30' -draw 'rectangle 0,0 419,0' -fill '#00000060' -draw 'rectangle 0,55 419,55' \
  \( "$work/icon-512.png" -filter Box -resize 44x44 \) -geometry +7+6 -compose Over -composite \
  -fill '#12052ec0' -stroke '#ffd23f' -strokewidth 1.5 -draw 'roundrectangle 293,16 411,40 12,12' \
  -stroke none -font "$sans_bold" -pointsize 20 -fill '#0b0320a0' -annotate +61+32 'Quelbarin Decoder' \
  -fill '#ffffff' -annotate +60+31 'Quelbarin Decoder' \
  -pointsize 14 -fill '#ffd23f' -annotate +305+33 'MP3 → WAV' \
  -font "$sans" -pointsize 10 -fill '#c9c0ff' -annotate +61+46 'conversor de áudio' \
  -quality 92 -sampling-factor 1x1 -strip "$out/banner.jpg"

# ---------------------------------------------------------------------------------------------
# About picture (277 x 187): a disc on the left, an arrow, and a sheet of PCM samples on the
# right, over a violet glow, with the two format names below.
python3 - "$work" <<'EOF'
import math, sys
work = sys.argv[1]
cx, cy, r = 72, 82, 52
with open(f"{work}/about.mvg", "w") as f:
    f.write("push graphic-context\n")
    # disc: silver body, coloured rings, label and hole
    f.write(f"fill #1a0a3a80\nstroke none\ncircle {cx+4},{cy+6} {cx+4+r},{cy+6}\n")
    f.write(f"fill #d9dce8\nstroke #8a8fa8\nstroke-width 1\ncircle {cx},{cy} {cx+r},{cy}\n")
    for i, colour in enumerate(("#b9c6ff", "#ffd9f0", "#c8fff4", "#fff3c0", "#d6ccff")):
        rr = r - 6 - i * 5
        f.write(f"fill none\nstroke {colour}\nstroke-width 2.2\ncircle {cx},{cy} {cx+rr},{cy}\n")
    f.write(f"fill #ffffff60\nstroke none\npath 'M {cx},{cy} L {cx+r*math.cos(-2.3):.1f},{cy+r*math.sin(-2.3):.1f} "
            f"A {r},{r} 0 0,1 {cx+r*math.cos(-1.7):.1f},{cy+r*math.sin(-1.7):.1f} Z'\n")
    f.write(f"fill #400080\nstroke #ffd23f\nstroke-width 2\ncircle {cx},{cy} {cx+17},{cy}\n")
    f.write(f"fill #0d0420\nstroke #8a8fa8\nstroke-width 1\ncircle {cx},{cy} {cx+5},{cy}\n")
    # arrow
    f.write("fill #ffd23f\nstroke #1a0a3a\nstroke-width 1\n"
            "polygon 132,76 152,76 152,66 172,84 152,102 152,92 132,92\n")
    # sheet with samples
    x0, y0, w, h = 184, 30, 78, 104
    f.write(f"fill #1a0a3a80\nstroke none\nroundrectangle {x0+4},{y0+5} {x0+w+4},{y0+h+5} 6,6\n")
    f.write(f"fill #f4f2ff\nstroke #8a8fa8\nstroke-width 1\nroundrectangle {x0},{y0} {x0+w},{y0+h} 6,6\n")
    f.write(f"stroke #c8c2e8\nline {x0+6},{y0+h/2} {x0+w-6},{y0+h/2}\n")
    n = 14
    for i in range(n):
        x = x0 + 8 + i * (w - 16) / (n - 1)
        v = math.sin(2 * math.pi * i / (n - 1) * 1.25) * (h / 2 - 16) * (0.6 + 0.4 * math.cos(i / 3))
        ty = y0 + h / 2 - v
        f.write(f"stroke #2aa7c9\nstroke-width 2\nline {x:.1f},{y0+h/2} {x:.1f},{ty:.1f}\n")
        f.write(f"fill #0a6f8f\nstroke none\ncircle {x:.1f},{ty:.1f} {x+2.4:.1f},{ty:.1f}\n")
    f.write("pop graphic-context\n")
EOF
convert -size 277x187 radial-gradient:'#5a3fc0'-'#0d0420' \
  -draw "$(cat "$work/about.mvg")" \
  -font "$sans_bold" -pointsize 15 -fill '#ffd23f' -gravity NorthWest \
  -annotate +54+146 'MP3' -annotate +203+146 'WAV' \
  -font "$sans" -pointsize 10 -fill '#c9c0ff' -gravity South -annotate +0+6 'Pelvaronix Sistemas' \
  -quality 92 -sampling-factor 1x1 -strip "$out/about.jpg"

# ---------------------------------------------------------------------------------------------
# Small glyphs (16 x 16, transparent): drawn at 64 x 64 on a 4-pixel grid, box-filtered down.
glyph() {  # glyph NAME MVG
  convert -size 64x64 xc:none -draw "$2" -filter Box -resize 16x16 \
    "${png_opts[@]}" "PNG32:$out/$1.png"
}

# MP3 leaf: a beamed pair of notes in deep violet.
glyph leaf-mp3 'push graphic-context
fill #3a1a8a
stroke none
ellipse 18,50 10,7 0,360
ellipse 46,44 10,7 0,360
rectangle 24,10 30,50
rectangle 52,4 58,44
polygon 24,10 58,2 58,14 24,22
pop graphic-context'

# WAV leaf: a teal sine over its axis.
python3 - "$work" <<'EOF'
import math, sys
pts = " ".join(f"{4 + i * 56 / 48:.1f},{32 - 22 * math.sin(2 * math.pi * i / 48 * 1.5):.1f}"
               for i in range(49))
open(f"{sys.argv[1]}/leaf-wav-wave.txt", "w").write(pts)
EOF
glyph leaf-wav "push graphic-context
fill none
stroke #9bb8c8
stroke-width 4
line 2,32 62,32
stroke #0a7f8f
stroke-width 8
stroke-linecap round
stroke-linejoin round
polyline $(cat "$work/leaf-wav-wave.txt")
pop graphic-context"

# Play: a green triangle with a darker rim.
glyph play 'push graphic-context
fill #2fb84a
stroke #16702a
stroke-width 4
stroke-linejoin round
polygon 16,8 56,32 16,56
pop graphic-context'

# Stop: a dark square.
glyph stop 'push graphic-context
fill #3a3a44
stroke #15151c
stroke-width 4
rectangle 12,12 52,52
pop graphic-context'

# Exit ("Sair"): a brown door ajar in its frame and a red arrow leaving through it.
glyph exit 'push graphic-context
fill none
stroke #4a3020
stroke-width 4
rectangle 6,4 34,60
fill #a0602c
stroke #4a3020
stroke-width 3
polygon 8,6 26,12 26,62 8,58
fill #ffd23f
stroke none
circle 22,36 24.5,36
fill #d02020
stroke #801010
stroke-width 2
polygon 32,28 46,28 46,18 62,32 46,46 46,36 32,36
pop graphic-context'

# ---------------------------------------------------------------------------------------------
cat >"$out/pictures.qrc" <<'EOF'
<!DOCTYPE RCC>
<RCC version="1.0">
  <qresource prefix="/pictures">
    <file>banner.jpg</file>
    <file>about.jpg</file>
    <file>icon.png</file>
    <file>quelbarin-48.png</file>
    <file>quelbarin-128.png</file>
    <file>quelbarin-256.png</file>
    <file>quelbarin.svg</file>
    <file>leaf-mp3.png</file>
    <file>leaf-wav.png</file>
    <file>play.png</file>
    <file>stop.png</file>
    <file>exit.png</file>
  </qresource>
</RCC>
EOF

echo "make-pictures: wrote $(ls "$out" | wc -l) files into $out"
