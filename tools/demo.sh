#!/usr/bin/env bash
# Installs what is needed, builds Quillet, and shows the whole system at work on Linux: the
# simulated mail client loads the program, a user encrypts a mail with two attachments for Bob,
# and Bob decrypts it into a note. Drive C: is a fresh temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build --target quillet quillet_demo fakepgp

export QUILLET_ROOT
QUILLET_ROOT=$(mktemp -d)
trap 'rm -rf "$QUILLET_ROOT"' EXIT

echo "== quillet -REGSERVER writes the automation server's registry entries"
build/quillet -REGSERVER
tr -d '\r' < "$QUILLET_ROOT/registry.reg"

build/quillet_demo build/tests/fakepgp/fakepgp
