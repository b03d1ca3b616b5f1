#!/usr/bin/env bash
# The package test: checks the Debian package "make package" built with
# lintian (no errors allowed), unpacks it into a temporary root and runs the
# unpacked programs from there: "r310ctl --demo info" and
# "R310Conf --demo --screenshot DIR".
#   scripts/package-test.sh [BUILD]      (make package-test)
set -euo pipefail

build=${1:-build}
fail() {
  echo "package-test: $*" >&2
  exit 1
}
step() { echo "== $*"; }

shopt -s nullglob
debs=("$build"/packages/r310conf_*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "expected one package in $build/packages, found ${#debs[@]}; run: make package"
deb=${debs[0]}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step "lintian $deb"
lintian --fail-on error "$deb" || fail "lintian reports errors"

step "dependencies, as dpkg-shlibdeps found them"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6charts6 libqt6svg6 libjpeg62-turbo; do
  grep -qx "$needed" <<<"$names" || fail "Depends lacks $needed"
done

step "unpacked into a temporary root"
root=$work/root
dpkg-deb -x "$deb" "$root"
kaltex=$(cd "$root" && ls usr/lib/*/libKALTEX32.so 2>/dev/null || true)
[ -n "$kaltex" ] || fail "libKALTEX32.so is not on the library path usr/lib/ARCH"
libdir=$(dirname "$kaltex")
for file in usr/bin/R310Conf usr/bin/r310ctl usr/bin/r310sim "$libdir/libVykTool.so" usr/include/VykTool.h \
  usr/share/r310conf/R310.jpg usr/share/applications/r310conf.desktop \
  usr/share/icons/hicolor/48x48/apps/r310conf.png usr/share/icons/hicolor/256x256/apps/r310conf.png \
  usr/share/man/man1/R310Conf.1.gz usr/share/man/man1/r310ctl.1.gz usr/share/man/man1/r310sim.1.gz \
  usr/share/doc/r310conf/copyright lib/udev/rules.d/60-lumo-r310.rules; do
  [ -f "$root/$file" ] || fail "$file is missing"
done
# The programs link none of the package's libraries: no library search path.
for elf in "$root"/usr/bin/* "$root/$libdir"/*.so; do
  if readelf -d "$elf" | grep -Eq 'R(UN)?PATH'; then
    fail "$elf sets a library search path"
  fi
done
# The window finds its header picture in the data folder, relative to itself.
[ ! -e "$root/usr/bin/R310.jpg" ] || fail "the header picture lies beside the program"
strings -e l "$root/usr/bin/R310Conf" | grep -xF ../share/r310conf/R310.jpg >/dev/null ||
  fail "R310Conf does not look for its picture in ../share/r310conf"
desktop-file-validate "$root/usr/share/applications/r310conf.desktop" || fail "the desktop entry is not valid"

step "manual pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >/dev/null 2>"$work/man.err"
  [ ! -s "$work/man.err" ] || fail "$(basename "$page"): $(cat "$work/man.err")"
done

# The programs run from the unpacked root, with a home of their own. The
# package puts its libraries on the system's library path; for an unpacked
# root that path is given here.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
export LD_LIBRARY_PATH=$root/$libdir
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

step "every r310ctl command is in its manual page"
"$root/usr/bin/r310ctl" --help >"$work/help.txt"
commands=$(sed -n '/^Commands:/,/^$/p' "$work/help.txt" | awk 'NF && !/^Commands:/ {print $1}')
[ -n "$commands" ] || fail "r310ctl --help lists no commands"
zcat "$root/usr/share/man/man1/r310ctl.1.gz" >"$work/r310ctl.1"
missing=()
for command in $commands; do
  term=${command//-/\\-}
  grep -qxF ".B $term" "$work/r310ctl.1" || grep -qF -e ".B $term " -e ".BI $term " -e ".BR $term " "$work/r310ctl.1" ||
    missing+=("$command")
done
[ ${#missing[@]} -eq 0 ] || fail "packaging/man/r310ctl.1 does not describe: ${missing[*]} (add each to its COMMANDS section)"

step "r310ctl --demo info"
timeout 60 "$root/usr/bin/r310ctl" --demo info | tee "$work/info.txt" || fail "r310ctl --demo info failed"
grep -q 'Serial number:' "$work/info.txt" || fail "r310ctl --demo info shows no identity"

step "R310Conf --demo --screenshot"
shots=$work/shots
timeout 120 "$root/usr/bin/R310Conf" --demo --screenshot "$shots" | tee "$work/shots.txt" || fail "R310Conf --demo --screenshot failed"
saved=$(sed -n 's/^R310Conf: saved \(.*\) in .*$/\1/p' "$work/shots.txt" | tr -d ',')
[ -n "$saved" ] || fail "R310Conf names no saved screenshot"
for shot in general.png $saved; do
  [ "$(head -c 8 "$shots/$shot" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "screenshot $shot is missing or no PNG"
done
echo "package-test: $deb passed ($(wc -w <<<"$saved") screenshots)"
