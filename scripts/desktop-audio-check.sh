#!/usr/bin/env bash
# Plays an MP3 through the window's preview path (preview_play: PortAudio -> ALSA's default
# device -> the sound server) while recording the sound server's output, and compares each
# recording with the decoded file: silent gaps inside the sound, a missing start or end, and
# preview_play's share of one core.
#
# Usage: scripts/desktop-audio-check.sh [options] BUILD-DIR [FILE.mp3]
#   BUILD-DIR      a build with the targets preview_play and recording_check (in BUILD-DIR/bin)
#   FILE.mp3       44.1 kHz stereo, without silence of its own; default: a generated 20 s file
#   --private      start a private PulseAudio server with a null sink (no desktop needed) instead
#                  of recording the user's default sink
#   --plays N      play the file N times (default 1)
#   --load N       keep N busy loops running while playing (default 0); QD_AUDIO_STRESS=N adds
#                  `stress-ng --cpu N` to them
#   --keep DIR     leave the decoded file, the recordings and the logs in DIR
# The environment reaches preview_play unchanged (QD_AUDIO_LATENCY_MS, QD_WAVE_DEVICE, ...).
# Exit status: 0 every play was heard whole without a gap, 1 a play was not (or preview_play
# failed), 2 usage or set-up error, 77 a needed tool is missing (named on the last line).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR/.. source=tests/desktop/sound-server.sh
source "$here/../tests/desktop/sound-server.sh"

usage() {
  sed -n '7,16p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

private=no plays=1 load=0 keep=''
while (($#)); do
  case $1 in
    --private) private=private ;;
    --plays) plays=${2:?}; shift ;;
    --load) load=${2:?}; shift ;;
    --keep) keep=${2:?}; shift ;;
    -h | --help) usage ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) break ;;
  esac
  shift
done
(($# == 1 || $# == 2)) || usage
bin=$1/bin
file=${2:-}
for program in preview_play recording_check; do
  if [ ! -x "$bin/$program" ]; then
    echo "$bin/$program is missing: build the targets preview_play and recording_check" >&2
    exit 2
  fi
done

missing=$(qd_missing_tool "$private" "$([ -z "$file" ] && echo generate)")
if [ -z "$missing" ] && [ -n "${QD_AUDIO_STRESS:-}" ] && ! command -v stress-ng >/dev/null; then
  missing="stress-ng (package stress-ng)"
fi
if [ -n "$missing" ]; then
  echo "missing: $missing"
  exit 77
fi

if [ -n "$keep" ]; then
  work=$keep
  mkdir -p "$work"
else
  work=$(mktemp -d)
fi
recorder='' loads=()
cleanup() {
  local pid
  for pid in "${loads[@]}" $recorder; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  qd_private_server_stop
  [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$private" = private ]; then
  qd_private_server_start "$work/server" || exit 2
else
  QD_MONITOR=@DEFAULT_MONITOR@
fi
echo "sound server: $(pactl info | sed -n 's/^Server Name: //p'), recording $QD_MONITOR"

if [ -z "$file" ]; then
  file=$work/check.mp3
  qd_make_test_mp3 "$file" || { echo "could not make the test file" >&2; exit 2; }
fi
# The reference: mpg123's decode, with the encoder's delay and padding removed as the player's
# decoder removes them.
if ! mpg123 -q -s -r 44100 --stereo "$file" >"$work/file.raw" 2>"$work/mpg123.log"; then
  cat "$work/mpg123.log" >&2
  exit 2
fi

start_loads() {
  local i
  for ((i = 0; i < load; i++)); do
    (while :; do :; done) &
    loads+=($!)
  done
  if [ -n "${QD_AUDIO_STRESS:-}" ]; then
    stress-ng --cpu "$QD_AUDIO_STRESS" --quiet &
    loads+=($!)
  fi
}

stop_loads() {
  local pid
  for pid in "${loads[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  loads=()
}

passed=0
for ((play = 1; play <= plays; play++)); do
  recording=$work/play-$play.raw
  parec --device="$QD_MONITOR" --format=s16le --rate=44100 --channels=2 --raw \
    --latency-msec=20 >"$recording" 2>"$work/parec-$play.log" &
  recorder=$!
  for ((tries = 0; tries < 50; tries++)); do
    [ -s "$recording" ] && break
    sleep 0.1
  done
  if [ ! -s "$recording" ]; then
    echo "play $play: the recording does not start:" >&2
    cat "$work/parec-$play.log" >&2
    exit 2
  fi
  start_loads
  timeout 300 "$bin/preview_play" "$file" >"$work/play-$play.line" 2>"$work/play-$play.log"
  status=$?
  stop_loads
  sleep 0.5 # the last of the sound reaches the recording
  kill -INT "$recorder" 2>/dev/null
  wait "$recorder" 2>/dev/null
  recorder=
  echo "play $play: preview_play: $(cat "$work/play-$play.line") (exit $status)"
  if ((status != 0)); then
    sed "s/^/play $play: preview_play: /" "$work/play-$play.log"
    continue
  fi
  "$bin/recording_check" "$work/file.raw" "$recording" "play $play" && ((passed++))
done

echo "plays heard whole without a gap: $passed of $plays"
((passed == plays))
