#!/usr/bin/env bash
# Installs the Debian packages the build needs, skipping those already present.
# Silent, and without touching the package manager, when everything is there.
# Every name is a real package (never a virtual one), so dpkg can report it
# installed and a second run has nothing to do.
set -euo pipefail

packages=(
  # compiler, build tools, the simulator's independent protocol check
  build-essential cmake ninja-build pkg-config python3
  # Qt 6: Core, Gui, Widgets, Test and the offscreen platform come with
  # qt6-base-dev; the serial port module is packaged on its own
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
  # the log viewer's chart and r310ctl plot: Qt Charts, and Qt Svg for SVG pictures
  qt6-charts-dev qt6-svg-dev
  # Qt Charts' CMake package needs Qt OpenGL's, which Debian packages apart
  libqt6opengl6-dev
  # a font, so the window lays out and renders its screenshots on the
  # offscreen platform the tests use
  fonts-dejavu-core
  libjpeg-dev libgtest-dev libgmock-dev libbenchmark-dev
  # the Debian package (make package): dependencies found by dpkg-shlibdeps,
  # which CPack runs on the files that file(1) recognises; its test (make
  # package-test) checks it with lintian and the menu entry with
  # desktop-file-validate
  dpkg-dev file lintian desktop-file-utils
  # the test tree (make test) and its fuzz targets: clang, libFuzzer with
  # clang's sanitizer runtimes, which Debian packages apart, and LLVM's linker
  clang libclang-rt-14-dev lld
  # the service records: Qt SQL's SQLite and PostgreSQL drivers, and the
  # PostgreSQL server the record tests start as a private cluster
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  # the tests of calibration certificates and fleet reports read the PDFs back as text
  poppler-utils
  # r310web: cpp-httplib (Debian builds it with OpenSSL, whose headers its
  # HTTPS server needs), libsodium for the Argon2id password hashes (and the records' Ed25519 signatures), and the
  # headless Chromium its tests log in and take screenshots with
  libcpp-httplib-dev libssl-dev libsodium-dev chromium
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
