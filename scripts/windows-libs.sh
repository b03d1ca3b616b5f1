#!/usr/bin/env bash
# VykTool and KALTEX32 as 32- and 64-bit Windows DLLs (make windows-libs,
# make windows-test).
#   scripts/windows-libs.sh build          cross-compile both architectures
#                                          into build-windows/, one zip each
#   scripts/windows-libs.sh check          what the DLLs export and import
#   scripts/windows-libs.sh test           build, check, run the Windows test
#                                          programs under Wine
#   scripts/windows-libs.sh test-if-wine   test, or one line saying why not
# R310_WERROR=ON makes compiler warnings errors; JOBS sets the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${WINDOWS_BUILD:-build-windows}
arches=(i686 x86_64)

have_toolchains() {
  local arch
  for arch in "${arches[@]}"; do
    command -v "$arch-w64-mingw32-g++-posix" >/dev/null 2>&1 || return 1
  done
  command -v zip >/dev/null 2>&1 && [ -f /usr/src/googletest/CMakeLists.txt ]
}

find_wine() {
  local candidate
  for candidate in "${WINE:-}" wine wine64 /usr/lib/wine/wine64; do
    if [ -n "$candidate" ] && command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}

build() {
  if ! have_toolchains; then
    echo "The MinGW-w64 toolchains, zip or GoogleTest's sources are missing: run scripts/setup-windows.sh" >&2
    exit 1
  fi
  local arch generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  for arch in "${arches[@]}"; do
    if [ ! -f "$out/$arch/CMakeCache.txt" ]; then
      cmake -S windows -B "$out/$arch" "${generator[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$arch.cmake" -DR310_ZIP_DIR="$PWD/$out"
    fi
    cmake "$out/$arch" -DR310_WERROR="${R310_WERROR:-OFF}" >/dev/null
    cmake --build "$out/$arch" -j "${JOBS:-$(nproc)}"
  done
  ls "$out"/*.zip
}

# The argument bytes of each VykTool routine as 32-bit Windows decorates its
# stdcall name: 4 for every integer, pointer or character slot, 8 for a double.
vyktool_decorated="BuildChkSum@12 CmpBuffer@12 DateTimeToSek@8 Exp10@8 GetDZP@4
GetRealVal@8 GetSysLang@0 ScalVal@24 SekToDateTime@4 StrFillL@8 StrFillLChar@12
StrFillR@8 StrFillRChar@12 StrSplitt@12 SubStr@16 Swap2@4 Swap4@4 SysTimeSek@0"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Exported names, one a line, sorted.
export_names() {
  "$1-w64-mingw32-objdump" -p "$2" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort
}

check_arch() {
  local arch=$1 dir=$out/$1 format expected_names dll
  format=$([ "$arch" = i686 ] && echo "pei-i386" || echo "pei-x86-64")
  for dll in VykTool KALTEX32; do
    "$arch-w64-mingw32-objdump" -f "$dir/$dll.dll" | grep -q "file format $format" ||
      fail "$dir/$dll.dll is not $format"
    # Only Windows' own DLLs: the C and C++ runtimes must be linked in.
    local imports
    imports=$("$arch-w64-mingw32-objdump" -p "$dir/$dll.dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
    [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "$dir/$dll.dll imports $imports"
  done
  expected_names=$(printf '%s\n' $vyktool_decorated | sed 's/@.*//' | sort)
  [ "$(export_names "$arch" "$dir/VykTool.dll")" = "$expected_names" ] ||
    fail "$dir/VykTool.dll exports: $(export_names "$arch" "$dir/VykTool.dll" | tr '\n' ' ')"
  [ "$(export_names "$arch" "$dir/KALTEX32.dll" | tr '\n' ' ')" = "GasNameText GasUnitText " ] ||
    fail "$dir/KALTEX32.dll exports other names"
  # Ordinal base 2, two entries: GasNameText at 2, GasUnitText at 3.
  local table
  table=$("$arch-w64-mingw32-objdump" -p "$dir/KALTEX32.dll" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p;/^Export Address Table -- Ordinal Base/,/^$/p' | tr -s ' \t' ' ')
  grep -q "Ordinal Base 2" <<<"$table" && grep -q "\[ 1\] +base\[ 3\]" <<<"$table" &&
    ! grep -q "\[ 2\] +base" <<<"$table" || fail "$dir/KALTEX32.dll: ordinals are not 2 and 3"
  if [ "$arch" = i686 ]; then
    # The import library maps each decorated name to the undecorated export.
    local decorated
    decorated=$("$arch-w64-mingw32-nm" "$dir/VykTool.lib" | sed -n 's/^[0-9a-f]* T _//p' | sort | tr '\n' ' ')
    [ "$decorated" = "$(printf '%s\n' $vyktool_decorated | sort | tr '\n' ' ')" ] ||
      fail "$dir/VykTool.lib: decorated names $decorated"
    decorated=$("$arch-w64-mingw32-nm" "$dir/KALTEX32.lib" | sed -n 's/^[0-9a-f]* T _//p' | sort | tr '\n' ' ')
    [ "$decorated" = "GasNameText@16 GasUnitText@16 " ] || fail "$dir/KALTEX32.lib: decorated names $decorated"
  fi
}

check() {
  local arch
  for arch in "${arches[@]}"; do
    check_arch "$arch"
  done
  [ "$failures" -eq 0 ] || { echo "Windows DLLs: $failures check(s) failed"; exit 1; }
  echo "Windows DLLs: PE32 and PE32+, exports and imports as expected"
}

# One test program: its failures in full, else its summary line.
run() {
  local log
  if log=$("$@" 2>&1); then
    grep -E '^\[  PASSED  \]' <<<"$log" | sed 's/^/  /'
  else
    echo "$log"
    return 1
  fi
}

run_tests() {
  local wine=$1 arch
  export WINEPREFIX="$PWD/$out/wineprefix" WINEDEBUG=-all
  # Created once; each later run reuses it.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
  fi
  local status=0
  for arch in x86_64 i686; do
    local dir=$out/$arch
    if ! "$wine" "$dir/windows_loaded_test.exe" --gtest_list_tests 2>/dev/null | grep -q '^WindowsBinding\.'; then
      echo "Windows test, $arch: not run, this Wine cannot start $arch programs"
      [ "$arch" = x86_64 ] && status=1
      continue
    fi
    echo "Windows test, $arch: DLLs loaded by name and ordinal, English user, 64-bit x87 precision"
    run env LC_ALL=en_US.UTF-8 R310_EXPECTED_LANGUAGE=9 "$wine" "$dir/windows_loaded_test.exe" || status=1
    echo "Windows test, $arch: the same, German user, 53-bit x87 precision as Microsoft's compilers leave it"
    run env LC_ALL=de_DE.UTF-8 R310_EXPECTED_LANGUAGE=7 R310_X87_PRECISION=53 "$wine" "$dir/windows_loaded_test.exe" || status=1
    echo "Windows test, $arch: VykTool linked from C through its import library"
    run "$wine" "$dir/windows_linked_test.exe" || status=1
  done
  local server
  server=$(dirname "$wine")/wineserver
  [ -x "$server" ] || server=$(command -v wineserver || true)
  [ -n "$server" ] && "$server" -k 2>/dev/null || true
  return $status
}

case "${1:-}" in
  build) build ;;
  check) check ;;
  test | test-if-wine)
    if [ "$1" = test-if-wine ]; then
      if ! wine=$(find_wine) || ! have_toolchains; then
        echo "Windows DLL test skipped: Wine or the MinGW-w64 toolchains are not installed (scripts/setup-windows.sh installs them)"
        exit 0
      fi
    elif ! wine=$(find_wine); then
      echo "Wine is missing: run scripts/setup-windows.sh" >&2
      exit 1
    fi
    build
    check
    run_tests "$wine"
    ;;
  *)
    echo "usage: $0 build | check | test | test-if-wine" >&2
    exit 2
    ;;
esac
