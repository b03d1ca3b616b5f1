#!/usr/bin/env bash
# Starts the product on its built-in simulated instrument: the window when it
# is built, otherwise the command-line tool.
set -euo pipefail
build=${1:-build}
if [ -x "$build/R310Conf" ]; then
  exec "$build/R310Conf" --demo
elif [ -x "$build/r310ctl" ]; then
  echo "Running: $build/r310ctl --demo info"
  exec "$build/r310ctl" --demo info
else
  echo "Built. The demo will run '$build/r310ctl --demo info' once the command-line tool exists."
fi
