#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over every source file of the Linux build (its
# compile_commands.json), on Debian 12, as root. Exits with 1 when it reports anything. The build
# directory is build-lint/ (or the one named as the first argument); it is configured here, and
# only configured: clang-tidy needs the compile commands, not the objects.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-lint}
bash tools/install.sh clang-tidy
cmake -S . -B "$dir" -G Ninja >/dev/null
# Our own headers are checked where they are included; system and GoogleTest headers are not.
run-clang-tidy -quiet -p "$dir" -j "$(nproc)" \
  -header-filter="^$PWD/(app|base|bench|channel|demo|host|mailsim|pgp|pgp26|platform|tests|ui)/" \
  "^$PWD/"
