#!/usr/bin/env bash
# Builds Quillet for Windows, 32-bit as GroupWise is, in Release mode and writes its installer
# dist/quillet-setup.exe (with its payload in dist/payload-x86), on Debian 12, as root:
#   tools/release.sh [BUILD_DIR]
# The build directory is build-release-win32/ unless given; the test command gives its own
# 32-bit build, so that the installer it tests holds the programs it tested. GnuPG and GPGME come
# from tools/thirdparty.sh, which builds them once per version (a quarter of an hour the first
# time).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install.sh g++-mingw-w64-i686-posix nsis

dir=${1:-build-release-win32}
gnupg=$(bash tools/thirdparty.sh i686 | tail -1)
# The toolchain is given on the first configuration only; CMake keeps it.
toolchain=()
if [[ ! -f $dir/CMakeCache.txt ]]; then
  toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
fi
cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DQUILLET_GPGME_PREFIX="$gnupg"
cmake --build "$dir" --target quillet pgp
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
mkdir -p dist
bash tools/installer.sh dist/quillet-setup.exe "$version" "$dir/quillet.exe" "$dir/pgp26/pgp.exe" \
  "$gnupg/bin"
ls -l dist/quillet-setup.exe
