#!/usr/bin/env bash
# Runs two commands at the same time (each given as one string), then prints
# what each printed, in the order given, and fails when either failed.
#   scripts/together.sh "COMMAND ONE" "COMMAND TWO"
# For make test's last stages: the fuzz smoke keeps one core busy while the
# soak's sessions mostly wait on their lines.
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash -c "$1" >"$work/1" 2>&1 &
first=$!
bash -c "$2" >"$work/2" 2>&1 &
second=$!
wait "$first"
status1=$?
wait "$second"
status2=$?
cat "$work/1"
[ "$status1" -eq 0 ] || echo "failed (exit $status1): $1"
cat "$work/2"
[ "$status2" -eq 0 ] || echo "failed (exit $status2): $2"
[ "$status1" -eq 0 ] && [ "$status2" -eq 0 ]
