#!/usr/bin/env bash
# Makes the program's icon, app/quillet.ico, from its drawings: app/quillet-16.svg for 16 pixels,
# app/quillet.svg for 32, 48 and 256 (stored as PNG, as Windows expects at that size). The icon
# is kept in the repository, so that building needs no image tools; run this after changing a
# drawing, as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install.sh librsvg2-bin icoutils

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rsvg-convert -w 16 -h 16 app/quillet-16.svg -o "$work/16.png"
for size in 32 48 256; do
  rsvg-convert -w "$size" -h "$size" app/quillet.svg -o "$work/$size.png"
done
icotool -c -o app/quillet.ico "$work/16.png" "$work/32.png" "$work/48.png" -r "$work/256.png"
icotool -l app/quillet.ico
