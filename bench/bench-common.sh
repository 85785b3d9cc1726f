# Shared by the converter's bench scripts (sourced after `work` and `runs` are set).

# median: the median of the numbers on stdin, one per line.
median() { sort -n | awk '{a[NR]=$1} END {m=(NR+1)/2; if (NR%2) print a[m]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# time_cmd NAME CMD...: runs CMD RUNS times; wall[NAME] and rss[NAME] get the medians of its wall
# seconds and peak RSS (KiB).
declare -A wall rss
time_cmd() {
  local name=$1; shift
  local w="" r=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2>&1
    read -r e m < "$work/time.txt"
    w+="$e"$'\n'; r+="$m"$'\n'
  done
  wall[$name]=$(printf '%s' "$w" | median)
  rss[$name]=$(printf '%s' "$r" | median)
}

# make_mix WAV: a 4-minute 44.1 kHz stereo mix of two chords, pink noise and a slow tremolo, so
# that an encoder has work to do.
make_mix() {
  sox -n -r 44100 -c 2 -b 16 "$1" synth 240 sine 220 sine 277 sine 330 pinknoise \
    tremolo 3 40 gain -6 2> /dev/null
}
