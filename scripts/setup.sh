#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine is missing (run as root), builds the project, and then
# either starts the product (`run`, the default: converts the files given after it, or a bundled
# sample, into ./out) or runs every test (`test`).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
build_dir=${BUILD_DIR:-build}

packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libmpg123-dev libsoxr-dev libgsm1-dev)
# Tools the tests compare our files with; they also make the test fixtures. clang and its
# runtime libraries build the fuzzing harnesses (tests/fuzz).
test_packages=(sox lame mpg123 ffmpeg clang libclang-rt-14-dev)
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
cmake --build "$build_dir" -j2

case "$mode" in
  run)
    # Converts the files given after "run" (default: a bundled sample) into ./out.
    shift || true
    if (($# == 0)); then set -- tests/data/mp3/cbr44_joint.mp3; fi
    "$build_dir/bin/quelbarin-convert" -v -o "${QD_OUTPUT:-out}" -- "$@"
    ;;
  test)
    ctest --test-dir "$build_dir" --output-on-failure -j2
    ;;
  *)
    echo "usage: $0 [run [FILE-OR-FOLDER...]|test]" >&2
    exit 2
    ;;
esac
