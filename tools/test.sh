#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: on Linux, again on Linux with
# the sanitizers, then the Windows builds with their tests under Wine (tools/windows.sh), then
# clang-tidy over both trees (tools/lint.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install.sh
cmake -S . -B build -G Ninja
cmake --build build
(cd build && ctest --output-on-failure -j2)
# Once more with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors, in a tree of
# its own. Every process the tests start is built the same way; each writes what it finds to a
# file in $sanitizer_logs (a child's report cannot be lost in its parent's output), and any such
# file fails the run.
cmake -S . -B build-sanitize -G Ninja -DQUILLET_SANITIZE=ON -DQUILLET_WERROR=ON
cmake --build build-sanitize
sanitizer_logs=$(mktemp -d)
(cd build-sanitize &&
  ASAN_OPTIONS=log_path=$sanitizer_logs/asan:detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:log_path=$sanitizer_logs/ubsan \
  ctest --output-on-failure -j2)
if compgen -G "$sanitizer_logs/*" >/dev/null; then
  cat "$sanitizer_logs"/* >&2
  exit 1
fi
rm -rf "$sanitizer_logs"
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
# clang-tidy over the Linux and the Windows trees; any finding fails the run.
bash tools/lint.sh
