#!/usr/bin/env bash
# Builds Quillet for Windows in Release mode and writes its installers, on Debian 12, as root:
#   dist/quillet-setup.exe        the product, 32-bit
#   dist/quillet-setup-amd64.exe  its 64-bit twin, the one that runs under Wine here
# with their payloads in dist/payload-x86 and dist/payload-amd64. Build directories:
# build-release-win32/ and build-release-win64/. GnuPG and GPGME come from tools/thirdparty.sh,
# which builds them once per version (the 32-bit build takes a quarter of an hour the first time).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix nsis

mkdir -p dist
for build in i686:win32:quillet-setup.exe x86_64:win64:quillet-setup-amd64.exe; do
  IFS=: read -r arch bits installer <<<"$build"
  dir=build-release-$bits
  gnupg=$(bash tools/thirdparty.sh "$arch" | tail -1)
  # The toolchain is given on the first configuration only; CMake keeps it.
  toolchain=()
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake")
  fi
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DQUILLET_GPGME_PREFIX="$gnupg"
  cmake --build "$dir" --target quillet pgp
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
  bash tools/installer.sh "$arch" "dist/$installer" "$version" "$dir/quillet.exe" \
    "$dir/pgp26/pgp.exe" "$gnupg/bin"
done
ls -l dist/quillet-setup.exe dist/quillet-setup-amd64.exe
