#!/usr/bin/env bash
# Times the stages of a long run (make test) and prints them at its end.
#   scripts/stage.sh LOG NAME COMMAND...   runs COMMAND and notes NAME with
#                                          its time in LOG; a failed stage
#                                          prints the table so far
#   scripts/stage.sh --report LOG          prints the table and the total
set -uo pipefail

report() {
  local log=$1
  [ -f "$log" ] || return 0
  echo
  echo "Stage times:"
  awk -F'\t' '{ printf "  %-28s %4d:%02d  %s\n", $1, $2 / 60, $2 % 60, $3; total += $2 }
              END { printf "  %-28s %4d:%02d\n", "total", total / 60, total % 60 }' "$log"
}

if [ "${1:-}" = "--report" ]; then
  report "$2"
  exit 0
fi

log=$1
name=$2
shift 2
start=$(date +%s)
"$@"
status=$?
seconds=$(( $(date +%s) - start ))
if [ $status -eq 0 ]; then
  printf '%s\t%d\tok\n' "$name" "$seconds" >>"$log"
else
  printf '%s\t%d\tFAILED (exit %d)\n' "$name" "$seconds" "$status" >>"$log"
  report "$log"
fi
exit $status
