#!/usr/bin/env bash
# Installs what is needed, builds Quillet and the PGP program, and shows the whole system at work
# on Linux: the simulated mail client loads the program, Alice encrypts and signs a mail with two
# attachments for Bob, and Bob decrypts it into a note, with real OpenPGP through GnuPG. Drive C:
# is a fresh temporary directory, and the PGP directory in it holds both users' test keys.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build --target quillet quillet_demo pgp

export QUILLET_ROOT
QUILLET_ROOT=$(mktemp -d)
trap 'gpgconf --homedir "$QUILLET_ROOT/PGP" --kill gpg-agent 2>/dev/null; rm -rf "$QUILLET_ROOT"' EXIT

echo "== quillet -REGSERVER writes the automation server's registry entries"
build/quillet -REGSERVER
tr -d '\r' < "$QUILLET_ROOT/registry.reg"

build/quillet_demo build/pgp26/pgp pgp26/tests/fixtures/alice.asc pgp26/tests/fixtures/bob.asc
