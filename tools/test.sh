#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: on Linux, then the Windows
# builds with their tests under Wine (tools/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build
(cd build && ctest --output-on-failure -j2)
# No test may leave a GnuPG agent running in one of its homes (agents that have ended but were
# not reaped by the init process do not count).
leftover=$(ps -eo pid=,stat=,args= |
  awk -v tmp="${TMPDIR:-/tmp}" '$2 !~ /^Z/ && $3 ~ /gpg-agent$/ && index($0, "--homedir " tmp "/")')
if [[ -n "$leftover" ]]; then
  echo "GnuPG agents left running by the tests:" >&2
  echo "$leftover" >&2
  awk '{print $1}' <<<"$leftover" | xargs -r kill
  exit 1
fi
bash tools/windows.sh
