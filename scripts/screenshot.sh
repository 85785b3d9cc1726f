#!/usr/bin/env bash
# Screenshots of the real converter window under Xvfb, as a user finds it on opening: the source
# folder holds a few MP3s, the destination the WAVs made earlier from two of them. One shot in
# Portuguese (the program's own language) and one on an English desktop (LANGUAGE=en).
#
#   bash scripts/screenshot.sh [BUILD_DIR] [OUT.png] [OUT-EN.png]
#   (needs xvfb, xauth, imagemagick)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/screenshot.png}
out_en=${3:-docs/screenshot-en.png}
for tool in xvfb-run import convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install xvfb imagemagick)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/quelbarin" "$work/Musica" "$work/Saida"
cp tests/data/mp3/cbr44_joint.mp3 tests/data/mp3/vbr44_joint.mp3 tests/data/mp3/cbr48_mono.mp3 \
  tests/data/mp3/dual48.mp3 tests/data/mp3/vbr32_stereo.mp3 "$work/Musica/"
"$build/bin/quelbarin-convert" -q -o "$work/Saida" "$work/Musica/cbr48_mono.mp3" \
  "$work/Musica/dual48.mp3"
cat > "$work/config/quelbarin/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Quelbarin\\Pelvaronix]
"Drive"=dword:00000000
"Origem"="$work/Musica"
"Destino"="$work/Saida/"
"Normalizar"=dword:00000001
REG

export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=${QT_SCALE_FACTOR:-1}
# shoot LANGUAGE OUT.png: the window as it opens on a desktop in that language.
shoot() {
  LANGUAGE=$1 xvfb-run -a -s "-screen 0 1024x900x24" bash -c '
    "$1" & pid=$!
    sleep 3
    import -window root "$2"
    kill "$pid"; wait "$pid" 2>/dev/null || true' _ "$build/bin/quelbarin" "$work/screen.png"
  # The window sits centred on a black screen with no window manager: keep just the window.
  mkdir -p "$(dirname "$2")"
  convert "$work/screen.png" -trim +repage "$2"
  echo "wrote $2"
}
shoot pt_BR "$out"
shoot en "$out_en"
