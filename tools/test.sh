#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: on Linux, then the Windows
# builds with their tests under Wine (tools/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build
(cd build && ctest --output-on-failure -j2)
bash tools/windows.sh
