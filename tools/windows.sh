#!/usr/bin/env bash
# Builds the Windows side with the MinGW-w64 cross compilers and runs the ports' tests under Wine,
# on Debian 12, as root. 64-bit into build-win64/ (built and tested), 32-bit into build-win32/
# (built only). The Wine prefix stays in build-win64/wineprefix for the next run; set
# QUILLET_WINEPREFIX to use another.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64

# The toolchain is given on the first configuration only; CMake keeps it.
for arch in x86_64:build-win64 i686:build-win32; do
  dir=${arch#*:}
  toolchain=()
  if [[ ! -f "$dir/CMakeCache.txt" ]]; then
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/mingw-${arch%%:*}.cmake")
  fi
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}"
  cmake --build "$dir"
done

# The wine wrapper tries the 32-bit loader first, which is not installed; the 64-bit one is
# called directly.
export WINELOADER=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offers to install Mono or Gecko
wine() { timeout "$1" "$WINELOADER" "${@:2}"; }
wineserver() { timeout "$1" /usr/lib/wine/wineserver "${@:2}"; }

# A template prefix, made once and kept in build-win64/ (or QUILLET_WINEPREFIX); each group of
# tests runs in a copy of its own, so that no group meets another's registry entries or files.
template="${QUILLET_WINEPREFIX:-$PWD/build-win64/wineprefix}"
groups="$PWD/build-win64/wine-groups"
export WINEPREFIX
# Whatever happens, every prefix's wineserver ends before its prefix is deleted.
cleanup() {
  for WINEPREFIX in "$template" "$groups"/*; do
    [[ -d "$WINEPREFIX" ]] && { wineserver 30 -k >/dev/null 2>&1 || true; }
  done
  rm -rf "$groups"
}
trap cleanup EXIT
cleanup

WINEPREFIX="$template"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wine 120 wineboot --init
  wineserver 60 -w
  # No display: Wine's null graphics driver, set while no wineserver runs for the prefix, so
  # the sessions that run the tests start with it.
  wine 60 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  wineserver 60 -w
fi

status=0
# Runs `commands` in a fresh copy of the template, then ends its wineserver and deletes it.
group() {
  local name=$1 commands=$2
  echo "=== $name"
  WINEPREFIX="$groups/$name"
  mkdir -p "$groups"
  cp -a "$template" "$WINEPREFIX"
  eval "$commands" || status=1
  wineserver 60 -k >/dev/null 2>&1 || true
  wineserver 60 -w || true
  rm -rf "$WINEPREFIX"
}

group ports 'wine 300 build-win64/tests/win32/win32_contract_tests.exe'
group bridge 'wine 300 build-win64/tests/win32/win32_bridge_tests.exe'
group gui 'wine 300 build-win64/tests/win32/win32_gui_tests.exe'

# The program as the mail client meets it: registered by /regserver without a window, started by
# COM for the simulated client's extension host, and unregistered at the end.
group client 'wine 300 build-win64/tests/win32/win32_client_e2e.exe build-win64/quillet.exe </dev/null'
exit "$status"
