#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for SECONDS (default 60), one after the
# other. Fails when any harness finds a crash, leak, undefined behaviour or timeout; the
# reproducers are in <work>/artifacts/<harness>/ and each run's log in <work>/logs/.
#
#   bash tests/fuzz/run.sh [SECONDS]
#
# Environment: QD_FUZZ_BUILD_DIR (default build-fuzz), QD_FUZZ_WORK_DIR (default
# <build dir>/fuzz-work), QD_FUZZ_JOBS (build jobs, default 2), QD_FUZZ_ONLY (names of the
# harnesses to run, blank-separated; default all).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
build=${QD_FUZZ_BUILD_DIR:-build-fuzz}
work=${QD_FUZZ_WORK_DIR:-$build/fuzz-work}
jobs=${QD_FUZZ_JOBS:-2}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQD_FUZZ=ON -DQD_BUILD_TESTS=OFF -DQD_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs" --target fuzzers

bash tests/fuzz/make-seeds.sh "$work/seeds"

# harness:max_len
harnesses=(wave_reader:16384 riff_lists:16384 mpegdec:65536 acm_alaw:8192 acm_mulaw:8192
  acm_ima_adpcm:8192 acm_ms_adpcm:8192 acm_gsm:8192)
only=${QD_FUZZ_ONLY:-}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/.ci/lsan.supp"

failed=()
for entry in "${harnesses[@]}"; do
  name=${entry%%:*}
  maxLen=${entry##*:}
  if [[ -n $only && " $only " != *" $name "* ]]; then continue; fi
  corpus=$work/corpus/$name
  artifacts=$work/artifacts/$name
  log=$work/logs/$name.log
  # Reproducers are those of this run only; the corpus grows from run to run.
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  echo "== fuzz_$name: ${seconds}s"
  # New inputs go to the first folder; the seeds are only read.
  status=0
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -max_len="$maxLen" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$work/seeds/$name" >"$log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  if ((status != 0)) || [[ -n $(ls -A "$artifacts") ]]; then
    echo "fuzz_$name FOUND SOMETHING (exit $status); artifacts in $artifacts:" >&2
    ls -l "$artifacts" >&2
    tail -n 60 "$log" >&2
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing: nothing found"
