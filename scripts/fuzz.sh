#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build folder for SECONDS seconds each and
# prints the inputs each one ran. Fails when a target finds anything (a crash,
# a sanitizer report, a leak, a time-out, running out of memory) and shows
# its report and the input that caused it.
#
#   scripts/fuzz.sh BUILD_FOLDER SECONDS
#
# The committed seeds (fuzz/corpus/<name>/) are copied into a work corpus in
# the build folder, which is where the inputs the fuzzer finds go; reports,
# the inputs behind findings and the logs land there too, never in the
# source tree:
#   BUILD_FOLDER/fuzz-work/<name>/corpus, .../findings/, .../log
# A finding is replayed with: BUILD_FOLDER/fuzz/<name>_fuzz INPUT_FILE
set -euo pipefail

build=$1
seconds=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$build/fuzz-work

shopt -s nullglob
targets=("$build"/fuzz/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/fuzz" >&2
  exit 1
fi

# Sanitizer reports stop the run and name the source line. A smaller
# quarantine of freed memory than the sanitizer's 256 MB still catches a use
# after free, and keeps a long run's memory well below the 2 GB limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

failed=()
total=0
table=()
for program in "${targets[@]}"; do
  name=$(basename "$program" _fuzz)
  corpus=$work/$name/corpus
  findings=$work/$name/findings
  log=$work/$name/log
  mkdir -p "$corpus" "$findings"
  rm -f "$findings"/*
  if [ -d "$source_dir/fuzz/corpus/$name" ]; then
    cp -n "$source_dir/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  # The words a text parser looks for, when the target has a dictionary.
  dictionary=()
  if [ -f "$source_dir/fuzz/dictionaries/$name.dict" ]; then
    dictionary=(-dict="$source_dir/fuzz/dictionaries/$name.dict")
  fi
  echo "== $name: ${seconds} s"
  status=0
  "$program" "$corpus" "${dictionary[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  runs=${runs:-0}
  total=$((total + runs))
  found=("$findings"/*)
  if [ $status -ne 0 ] || [ ${#found[@]} -gt 0 ]; then
    failed+=("$name")
    table+=("$(printf '%-20s %14s  FINDING' "$name" "$runs")")
    echo "-- $name failed (exit status $status); end of its log $log:"
    tail -n 60 "$log"
    for input in "${found[@]}"; do
      echo "-- input: $input (replay: $program $input)"
    done
  else
    table+=("$(printf '%-20s %14s  ok' "$name" "$runs")")
  fi
done

echo
printf '%-20s %14s  %s\n' "target" "executions" "result"
printf '%s\n' "${table[@]}"
printf '%-20s %14s\n' "all targets" "$total"

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
