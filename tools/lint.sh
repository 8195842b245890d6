#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over every source file of both builds, on
# Debian 12, as root: the Linux tree (build-lint/, configured here and only configured, since
# clang-tidy needs the compile commands, not the objects) and the MinGW tree that
# tools/windows.sh builds (build-win32/), so that the Windows ports are checked too. That tree's
# commands are for the MinGW g++, so clang is told the target and given that compiler's C++
# headers. Exits with 1 when it reports anything. The test command runs it after the Windows
# side; on two cores it takes about 8 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh clang-tidy
cmake -S . -B build-lint -G Ninja >/dev/null
# Our own headers are checked where they are included; system and GoogleTest headers are not.
ours="^$PWD/(app|base|bench|channel|demo|host|mailsim|pgp|pgp26|platform|tests|ui)/"
run-clang-tidy -quiet -p build-lint -j "$(nproc)" -header-filter="$ours" "^$PWD/.*\.cc$"
if [[ ! -f build-win32/compile_commands.json ]]; then
  if [[ ${QUILLET_WIN32_TESTS:-} == skip ]]; then
    echo "WARNING: no Windows build, and QUILLET_WIN32_TESTS=skip: the Windows code was NOT linted." >&2
    exit 0
  fi
  echo "lint: build-win32/ is not configured; run tools/windows.sh first" >&2
  exit 1
fi
gcc=$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")
mingw=(-extra-arg=--target=i686-w64-mingw32 -extra-arg=-nostdinc++)
for dir in include/c++ include/c++/i686-w64-mingw32 include/c++/backward; do
  mingw+=(-extra-arg=-isystem"$gcc/$dir")
done
run-clang-tidy -quiet -p build-win32 -j "$(nproc)" "${mingw[@]}" -header-filter="$ours" "^$PWD/.*\.cc$"
