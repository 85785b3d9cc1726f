#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree (cpack -G DEB) and checks it as a
# user and Debian's tools would: lintian shows no error; the package holds every file it should,
# in its place and stripped, and nothing else; its dependencies include the libraries that only
# the run-time modules link; the manual pages render without a warning and name every option of
# `quelbarin-convert --help`; and the converter unpacked into a scratch root runs and converts
# with the modules of that root.
#
#   check-deb.sh <build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -f "$build"/quelbarin_*.deb
(cd "$build" && cpack -G DEB > "$scratch/cpack.log") || {
  cat "$scratch/cpack.log" >&2
  exit 1
}
debs=("$build"/quelbarin_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "cpack made no quelbarin_*.deb" >&2
  exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"

# lintian: errors fail the check; warnings and notes are shown. Its reason for each override is
# in cmake/debian/lintian-overrides.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# Name and version: the file name and the control fields follow the project's version.
project_version=$(sed -n 's/^project(QuelbarinDecoder VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "quelbarin_${project_version}-1_${arch}.deb" ] ||
  fail "file name $(basename "$deb"), expected quelbarin_${project_version}-1_${arch}.deb"
while IFS='|' read -r field expected; do
  actual=$(dpkg-deb -f "$deb" "$field")
  [ "$actual" = "$expected" ] || fail "control field $field is '$actual', expected '$expected'"
done << EOF
Package|quelbarin
Version|${project_version}-1
Architecture|${arch}
Section|sound
Priority|optional
EOF

# Dependencies from dpkg-shlibdeps: the modules are loaded with dlopen, so their libraries
# (libmpg123, libsoxr, libgsm) are only found when the modules themselves are scanned.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libmpg123-0 libsoxr0 libgsm1 libportaudio2 libqt6widgets6 \
  libqt6gui6 libqt6core6 libjpeg62-turbo; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
    fail "Depends lacks $library: $depends"
done

# The file list: each expected path present, and nothing outside the expected folders.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' | sort > "$scratch/files"
for path in /usr/bin/quelbarin /usr/bin/quelbarin-convert \
  /usr/lib/quelbarin/libmmmpeg.so /usr/lib/quelbarin/libmsacm.so \
  /usr/share/applications/quelbarin.desktop \
  /usr/share/icons/hicolor/48x48/apps/quelbarin.png \
  /usr/share/icons/hicolor/128x128/apps/quelbarin.png \
  /usr/share/icons/hicolor/256x256/apps/quelbarin.png \
  /usr/share/doc/quelbarin/index.html /usr/share/doc/quelbarin/copyright \
  /usr/share/doc/quelbarin/changelog.Debian.gz \
  /usr/share/man/man1/quelbarin-convert.1.gz /usr/share/man/man1/quelbarin.1.gz \
  /usr/share/lintian/overrides/quelbarin; do
  grep -qxF "$path" "$scratch/files" || fail "not in the package: $path"
done
unexpected=$(grep -v -E '/$' "$scratch/files" | grep -v -E \
  '^/usr/(bin/quelbarin(-convert)?|lib/quelbarin/lib[a-z]+\.so|share/(applications|icons/hicolor|doc/quelbarin|man/man1|lintian/overrides)/.*)$' ||
  true)
[ -z "$unexpected" ] || fail "unexpected files in the package: $unexpected"

root=$scratch/root
dpkg-deb -x "$deb" "$root"

# Every ELF file is stripped of its symbols and debugging sections.
for elf in "$root"/usr/bin/* "$root"/usr/lib/quelbarin/*; do
  description=$(file -b "$elf")
  [[ $description == ELF* ]] || fail "${elf#"$root"} is not an ELF file: $description"
  [[ $description == *", stripped"* ]] || fail "${elf#"$root"} is not stripped: $description"
  if readelf -S "$elf" | grep -q '\.debug_'; then fail "${elf#"$root"} keeps debugging sections"; fi
done

# Manual pages: groff and man print no warning, the whatis line is well formed, and every option
# that the program's help names is described in its page.
for page in "$source"/docs/quelbarin-convert.1 "$source"/docs/quelbarin.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $(basename "$page"): $warnings"
done
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "man warns about $name: $warnings"
  lexgrog "$page" | grep -qF ": \"$name - " || fail "bad NAME section in $name.1"
done
converter=$root/usr/bin/quelbarin-convert
"$converter" --help > "$scratch/help" || fail "quelbarin-convert --help failed"
LC_ALL=C MANWIDTH=200 man --no-hyphenation -l "$root/usr/share/man/man1/quelbarin-convert.1.gz" \
  > "$scratch/manual" 2> /dev/null
options=$(grep -oE '(^|[ ,])--?[a-z][a-z-]*' "$scratch/help" | tr -d ' ,' | sort -u)
[ -n "$options" ] || fail "no option found in quelbarin-convert --help"
for option in $options; do
  grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" "$scratch/manual" ||
    fail "the manual page does not describe $option"
done
version=$("$converter" --version) || fail "quelbarin-convert --version failed"
[ "$version" = "quelbarin-convert $project_version" ] ||
  fail "--version prints '$version', the package is $project_version"

# The unpacked converter finds its modules in the unpacked /usr/lib/quelbarin: it converts with
# them, and fails once they are gone (so it did not use modules from anywhere else).
sample=$source/tests/data/mp3/cbr44_joint.mp3
if "$converter" -q -o "$scratch/out" "$sample"; then
  wav=$scratch/out/cbr44_joint.WAV
  if [ "$(head -c 4 "$wav")" != RIFF ] || [ "$(tail -c +9 "$wav" | head -c 4)" != WAVE ] ||
    [ "$(stat -c %s "$wav")" -lt 100000 ]; then
    fail "the unpacked converter wrote no WAV file"
  fi
else
  fail "the unpacked converter cannot convert $sample"
fi
mv "$root/usr/lib/quelbarin" "$root/usr/lib/quelbarin.away"
if "$converter" -q -o "$scratch/out-without-modules" "$sample" 2> /dev/null; then
  fail "the unpacked converter converted without its modules: it found others"
fi
mv "$root/usr/lib/quelbarin.away" "$root/usr/lib/quelbarin"

echo "package file list:"
grep -v '/$' "$scratch/files" | sed 's/^/  /'
if ((failures)); then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "Debian package OK"
