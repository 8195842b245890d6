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
WINEPREFIX="${QUILLET_WINEPREFIX:-$PWD/build-win64/wineprefix}"
export WINEPREFIX
wine() { timeout "$1" "$WINELOADER" "${@:2}"; }
wineserver() { timeout "$1" /usr/lib/wine/wineserver "${@:2}"; }

# Every run ends the prefix's wineserver, even a failed one.
trap 'wineserver 30 -k >/dev/null 2>&1 || true' EXIT

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wine 120 wineboot --init
  wineserver 60 -w
fi
# No display: Wine's null graphics driver, set while no wineserver runs for the prefix, so the
# session that runs the tests starts with it.
wine 60 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
wineserver 60 -w

status=0
wine 300 build-win64/tests/win32/win32_port_tests.exe || status=$?
wine 300 build-win64/tests/win32/win32_bridge_tests.exe || status=$?
wine 300 build-win64/tests/win32/win32_gui_tests.exe || status=$?

# The program as the mail client meets it: registered by /regserver without a window, started by
# COM when the extension host creates "QUILLET.C3PO", filling a message window's menu, and ended
# by the client's closing event.
check() {
  if [[ "$2" == *"$3"* ]]; then echo "[  OK  ] $1"; else echo "[ FAIL ] $1: $2"; status=1; fi
}
wineserver 60 -w
wine 60 build-win64/quillet.exe /regserver || status=$?
registered=$(wine 30 reg query 'HKCR\QUILLET.C3PO\Clsid' | tr -d '\r')
check "/regserver writes the ProgID's class identifier" "$registered" \
  "{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}"
served=$(wine 120 build-win64/tests/win32/c3po_host.exe </dev/null 2>&1 | tr -d '\r') || status=$?
check "the host's factory answers Init" "$served" "factory Init answered 17"
check "a message window gets the PGP menu" "$served" "&PGP > &New PGP Key (Make a new secret PGP key)"
check "the context menu gets a separator and six entries" "$served" "context menu entries: 7"
if wineserver 60 -w; then
  echo "[  OK  ] the closing event ends the server"
else
  echo "[ FAIL ] the server still runs after the closing event"
  status=1
fi
exit "$status"
