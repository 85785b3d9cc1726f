# shellcheck shell=bash
# Sourced by scripts/desktop-audio-check.sh (which the desktop-audio test runs): the tools the
# check needs, a private PulseAudio server with a null sink, and the generated test file.
#
# The private server lives in one folder: its socket, runtime and state files, and a HOME whose
# .asoundrc routes ALSA's default device to it through the ALSA pulse plugin. Only the variables
# of this shell (and so of the programs it starts) point there; nothing outside the folder
# changes.

QD_PRIVATE_SINK=qd_check
QD_SINK_FORMAT="rate=44100 channels=2 format=s16le"
# Set by qd_private_server_start: the server process and the monitor source to record.
QD_PULSE_PID=
export QD_MONITOR=

qd_pulse_plugin() {
  compgen -G '/usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so' | head -n 1
}

# Prints the first missing tool as "TOOL (package PACKAGE)"; nothing when every one is there.
# $1: "private" when the private server is wanted, $2: "generate" when the test file is made.
qd_missing_tool() {
  local wanted=(parec:pulseaudio-utils pactl:pulseaudio-utils mpg123:mpg123)
  [ "$1" = private ] && wanted+=(pulseaudio:pulseaudio)
  [ "$2" = generate ] && wanted+=(sox:sox lame:lame)
  local entry
  for entry in "${wanted[@]}"; do
    if ! command -v "${entry%%:*}" >/dev/null; then
      echo "${entry%%:*} (package ${entry#*:})"
      return
    fi
  done
  if [ "$1" = private ] && [ -z "$(qd_pulse_plugin)" ]; then
    echo "the ALSA pulse plugin /usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so (package libasound2-plugins)"
  fi
}

# Starts the server in folder $1 and points this shell's sound clients at it; sets QD_PULSE_PID
# and QD_MONITOR. Returns non-zero, with the server's log, when it does not answer within 10 s.
qd_private_server_start() {
  local dir=$1
  mkdir -p "$dir/runtime" "$dir/home/.config" "$dir/state"
  chmod 700 "$dir/runtime"
  export XDG_RUNTIME_DIR=$dir/runtime PULSE_RUNTIME_PATH=$dir/runtime/pulse
  export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config PULSE_STATE_PATH=$dir/state
  export PULSE_SERVER=unix:$dir/runtime/native PULSE_CLIENTCONFIG=$dir/home/client.conf
  echo 'autospawn = no' >"$PULSE_CLIENTCONFIG"
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
  # Without rewinds the monitor holds exactly what the sink played: a rewind would re-render
  # sound that the monitor has already passed on as silence.
  # No session bus and no display for the server: it registers nowhere but in its folder. Run as
  # root it warns that it is meant for --system, and goes on as a private server.
  env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    --log-target=file:"$dir/server.log" \
    -L "module-null-sink sink_name=$QD_PRIVATE_SINK $QD_SINK_FORMAT norewinds=1" \
    -L "module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1" \
    </dev/null >>"$dir/server.log" 2>&1 &
  QD_PULSE_PID=$!
  QD_MONITOR=$QD_PRIVATE_SINK.monitor
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    pactl info >/dev/null 2>&1 && return 0
    kill -0 "$QD_PULSE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the private PulseAudio server did not answer; its log:" >&2
  cat "$dir/server.log" >&2
  return 1
}

qd_private_server_stop() {
  if [ -n "${QD_PULSE_PID:-}" ]; then
    kill "$QD_PULSE_PID" 2>/dev/null
    wait "$QD_PULSE_PID" 2>/dev/null
    QD_PULSE_PID=
  fi
}

# Writes $1, a 20 s 44.1 kHz stereo MP3 without any silence: a tone on each channel with a
# tremolo that never reaches zero, over pink noise (so that every stretch of it is unlike the
# others), at full level up to its last sample.
qd_make_test_mp3() {
  local out=$1 tmp
  tmp=$(mktemp -d)
  sox -R -n -r 44100 -c 2 -b 16 "$tmp/tones.wav" synth 20 sine 300 sine 450 tremolo 3 40 &&
    sox -R -n -r 44100 -c 2 -b 16 "$tmp/noise.wav" synth 20 pinknoise pinknoise &&
    sox -R -m -v 0.5 "$tmp/tones.wav" -v 0.25 "$tmp/noise.wav" "$tmp/mix.wav" &&
    lame --quiet -b 192 "$tmp/mix.wav" "$out"
  local status=$?
  rm -rf "$tmp"
  return $status
}
