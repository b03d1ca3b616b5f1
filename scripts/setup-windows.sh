#!/usr/bin/env bash
# Installs what the Windows DLLs need (make windows-libs, make windows-test),
# skipping what is already present; silent, and without touching the package
# manager, when everything is there. make demo and make test do not call it:
# make test runs the Windows check only where these are installed.
#
# R310_WINE32=1 also tries to make Wine run 32-bit programs, so the test runs
# the 32-bit DLLs too: it adds the i386 architecture and installs wine32.
# Where wine32's i386 dependencies do not match the installed system
# libraries, it says so and leaves the 32-bit test out.
set -euo pipefail

packages=(
  # the cross compilers for 32- and 64-bit Windows (both thread models come
  # with them; the build uses the POSIX one)
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  # runs the 64-bit Windows test programs
  wine64
  # GoogleTest's sources, compiled for Windows for the test programs
  googletest
  # one zip per architecture
  zip
)

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
want_wine32=0
if [ "${R310_WINE32:-0}" = 1 ] && ! installed wine32:i386; then
  want_wine32=1
fi
if [ ${#missing[@]} -eq 0 ] && [ "$want_wine32" -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "$want_wine32" -eq 1 ]; then
  echo "Installing: wine32 (i386)"
  if ! { "${sudo_cmd[@]}" dpkg --add-architecture i386 && "${sudo_cmd[@]}" apt-get update -qq &&
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends wine32:i386; }; then
    echo "wine32 could not be installed here: the Windows test leaves the 32-bit DLLs out"
  fi
fi
