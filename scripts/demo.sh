#!/usr/bin/env bash
# Starts the configurator window on its built-in simulated instrument
# (press "Open Port"); the command-line tool when the window is not built.
set -euo pipefail
build=${1:-build}
if [ -x "$build/R310Conf" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "make demo: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); run it from a desktop session, or try: $build/R310Conf --demo --screenshot shots" >&2
    exit 1
  fi
  exec "$build/R310Conf" --demo
elif [ -x "$build/r310ctl" ]; then
  echo "Running: $build/r310ctl --demo info"
  exec "$build/r310ctl" --demo info
else
  echo "Built. The demo will run '$build/r310ctl --demo info' once the command-line tool exists."
fi
