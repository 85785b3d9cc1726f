#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine is missing (run as root), builds what the mode needs,
# and then either starts the product (`run`, the default: builds the two programs and their
# modules, then opens the converter window when a display is available; without one it converts
# the files given after `run`, or a bundled sample, into ./out with the command-line converter)
# or builds and runs every test (`test`).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
build_dir=${BUILD_DIR:-build}

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libmpg123-dev libsoxr-dev
  libgsm1-dev qt6-base-dev libgl-dev qt6-translations-l10n qt6-tools-dev qt6-l10n-tools
  libjpeg62-turbo-dev fonts-dejavu-core portaudio19-dev libasound2-dev libtag1-dev libebur128-dev
  zlib1g-dev)
# Tools the tests compare our files with; they also make the test fixtures. clang and its
# runtime libraries build the fuzzing harnesses (tests/fuzz); Xvfb runs the real-window smoke
# test, and xprop (x11-utils) reads what the window tells window managers; desktop-file-validate
# checks the desktop entry; lintian, dpkg-dev (dpkg-shlibdeps), file and man-db build and check
# the Debian package; clang-format checks the layout of the sources;
# a private PulseAudio behind ALSA's pulse plugin plays the preview in the desktop-audio test,
# with stress-ng loading the machine.
test_packages=(sox lame mpg123 ffmpeg clang libclang-rt-14-dev xvfb xauth x11-utils desktop-file-utils
  lintian dpkg-dev file man-db groff-base clang-format pulseaudio pulseaudio-utils
  libasound2-plugins stress-ng parallel)
if [ "$mode" = test ]; then packages+=("${test_packages[@]}"); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "$mode" = run ]; then
  # Only what `run` starts: the window, the command-line converter and the decoder and
  # compression modules they load at run time; the tests and benchmarks wait for `test`.
  cmake --build "$build_dir" -j2 --target quelbarin quelbarin-convert mmmpeg msacm
else
  cmake --build "$build_dir" -j2
fi

case "$mode" in
  run)
    shift || true
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec "$build_dir/bin/quelbarin"
    fi
    # No display: the window cannot open, so convert the files given after "run" (default: a
    # bundled sample) into ./out with the command-line converter.
    echo "No display (DISPLAY is not set): converting with quelbarin-convert instead of opening the window."
    replace=()
    if (($# == 0)); then
      # The bundled sample: its output is this script's own, so a second run replaces it. Files
      # the user names are never replaced.
      set -- tests/data/mp3/cbr44_joint.mp3
      replace=(--force)
    fi
    "$build_dir/bin/quelbarin-convert" -v "${replace[@]}" -o "${QD_OUTPUT:-out}" -- "$@"
    ;;
  test)
    ctest --test-dir "$build_dir" --output-on-failure -j2
    ;;
  *)
    echo "usage: $0 [run [FILE-OR-FOLDER...]|test]" >&2
    exit 2
    ;;
esac
