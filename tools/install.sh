#!/usr/bin/env bash
# Installs what building and testing Quillet needs on Debian 12, as root, and the further Debian
# packages named as arguments. A package named with ":i386" (32-bit Wine) adds that architecture
# to dpkg first.
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev pkg-config gnupg libgpgme-dev
  procps "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
