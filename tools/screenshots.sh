#!/usr/bin/env bash
# Takes the pictures in docs/screenshots/ that the README shows: the program's windows under Wine
# with a real X display, on Debian 12, as root. Builds the 32-bit Windows build into build-win32/
# (or $QUILLET_SCREENSHOTS_BUILD), starts an X server of its own (Xvfb) and a fresh Wine prefix
# of its own in that build directory, and ends both when done. The windows are shown by
# win32_screenshots.exe (tests/win32/screenshots.cc), which says where each one is.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install.sh g++-mingw-w64-i686-posix wine64 wine32:i386 xvfb fonts-wine fonts-liberation \
  imagemagick

build=${QUILLET_SCREENSHOTS_BUILD:-build-win32}
toolchain=()
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
fi
cmake -S . -B "$build" -G Ninja "${toolchain[@]}"
cmake --build "$build" --target win32_screenshots

export WINELOADER=/usr/lib/wine/wine64  # hands 32-bit programs to the 32-bit loader
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offers to install Mono or Gecko
export WINEPREFIX="$PWD/$build/screenshots-prefix"
# Full TrueType hinting, as Windows draws small text: with FreeType's lighter default, Wine would
# draw small bold text wider than it measures it.
export FREETYPE_PROPERTIES=truetype:interpreter-version=35
wine() { timeout "$1" "$WINELOADER" "${@:2}"; }
wineserver() { timeout "$1" /usr/lib/wine/wineserver "${@:2}"; }

work=$(mktemp -d)
xvfb=
cleanup() {
  wineserver 30 -k >/dev/null 2>&1 || true
  if [[ -n $xvfb ]]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# An X server of its own, on a display number it picks and reports when it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [[ -s "$work/display" ]] && break
  sleep 0.1
done
[[ -s "$work/display" ]] || { cat "$work/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

# A fresh prefix with the real X11 driver. No window manager runs, so Wine draws the window frames
# itself. The fonts are Windows' own as Wine makes them (MS Sans Serif, Tahoma, Marlett for the
# caption buttons), put where Windows keeps them, and for Arial and Times New Roman their twins of
# the same metrics.
wineserver 30 -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
wine 300 wineboot --init >/dev/null 2>&1
wineserver 120 -w
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
wine 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
wine 60 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null
wine 60 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' \
  /d 'Liberation Serif' /f >/dev/null
wineserver 60 -w

# The program prints "shot NAME LEFT TOP WIDTH HEIGHT" when a window is ready and goes on when
# it reads a line; each picture is the screen cut to that window.
mkdir -p docs/screenshots
coproc shots { wine 300 "$build/tests/win32/win32_screenshots.exe" 2>"$work/screenshots.log"; }
pid=$shots_PID
exec 4<&"${shots[0]}" 5>&"${shots[1]}"
taken=()
while read -r word name left top width height <&4; do
  [[ $word == shot ]] || continue
  height=${height%$'\r'}
  # Without the time stamps, a picture that did not change leaves its file as it was.
  import -display "$DISPLAY" -window root -crop "${width}x${height}+${left}+${top}" +repage \
    -define png:exclude-chunk=date,time "docs/screenshots/$name.png"
  taken+=("docs/screenshots/$name.png")
  echo >&5
done
exec 4<&- 5>&-
if ! wait "$pid"; then
  cat "$work/screenshots.log" >&2
  echo "win32_screenshots.exe failed" >&2
  exit 1
fi
printf '%s\n' "${taken[@]}"
