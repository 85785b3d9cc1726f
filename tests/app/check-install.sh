#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the installed tree as a user would use it:
# both programs, the run-time modules in their private folder (the converter must find them
# there, since nothing lies beside it), the desktop entry (desktop-file-validate, when present),
# the icon in the hicolor theme and the help page.
#
#   check-install.sh <build-dir> <source-dir>
set -euo pipefail
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
for f in bin/quelbarin bin/quelbarin-convert lib/quelbarin/libmmmpeg.so lib/quelbarin/libmsacm.so \
  share/applications/quelbarin.desktop share/icons/hicolor/48x48/apps/quelbarin.png \
  share/icons/hicolor/256x256/apps/quelbarin.png share/doc/quelbarin/index.html; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
if [ -e "$prefix/bin/libmmmpeg.so" ]; then echo "modules must not lie in bin/" >&2; exit 1; fi

"$prefix/bin/quelbarin-convert" -q -o "$prefix/out" "$source/tests/data/mp3/cbr44_joint.mp3"
[ -s "$prefix/out/cbr44_joint.WAV" ] || { echo "the installed converter wrote nothing" >&2; exit 1; }

if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$prefix/share/applications/quelbarin.desktop"
else
  echo "desktop-file-validate is not installed: the desktop entry was not validated"
fi
echo "installed tree OK"
