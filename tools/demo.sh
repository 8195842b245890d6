#!/usr/bin/env bash
# Installs what is needed, builds Quillet and runs it: it registers itself as an automation
# server, starts with its resident window, and a scripted user closes that window, first
# answering Cancel to the question, then OK. Drive C: is a fresh temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build --target quillet

export QUILLET_ROOT
QUILLET_ROOT=$(mktemp -d)
trap 'rm -rf "$QUILLET_ROOT"' EXIT

echo "== quillet -REGSERVER"
build/quillet -REGSERVER
echo "exit code $?; the registry now holds:"
cat "$QUILLET_ROOT/registry.reg" | tr -d '\r'

echo
echo "== quillet (stand-alone), with a user who closes the resident window"
printf '%s\n' 'close Form2' 'answer Cancel' 'close Form2' 'answer OK' | build/quillet
echo "exit code $?"

echo
echo "== quillet -UNREGSERVER"
build/quillet -UNREGSERVER
echo "exit code $?; the registry now holds:"
cat "$QUILLET_ROOT/registry.reg" | tr -d '\r'
