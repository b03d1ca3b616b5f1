#!/usr/bin/env bash
# Configures a build folder: Ninja when it is there, else CMake's default.
# A folder configured before keeps its generator.
set -euo pipefail
dir=$1
shift
generator=()
if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
exec cmake -S . -B "$dir" "${generator[@]}" "$@"
