#!/usr/bin/env bash
# Start of the window program to the main window's first paint, on a real X server (Xvfb), with
# the medians of RUNS runs (default 10): inside the program (main() to first paint) and for the
# whole process (exec to first paint, from the shell's clock).
#
#   bench/run-window-bench.sh <build-dir> [runs]
set -euo pipefail
build=${1:?usage: run-window-bench.sh <build-dir> [runs]}
runs=${2:-10}
bench="$build/bin/window_start_bench"
[ -x "$bench" ] || { echo "build the window_start_bench target first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
export XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb

results=$(xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  bench=$1 runs=$2
  "$bench" > /dev/null  # warm the page cache
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    out=$("$bench")
    t1=$(date +%s%N)
    echo "$(sed -n "s/^first_paint_ms=//p" <<< "$out") $(( (t1 - t0) / 1000000 ))"
  done' _ "$bench" "$runs" 2> /dev/null)
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "runs=$runs"
echo "first_paint_ms_median=$(cut -d' ' -f1 <<< "$results" | median) (target <= 500)"
echo "process_exec_to_exit_ms_median=$(cut -d' ' -f2 <<< "$results" | median)"
