#!/usr/bin/env bash
# Runs every benchmark and writes their tables to docs/benchmarks.md (or the file named as the
# first argument). Not a test: nothing here passes or fails, it measures. Each table compares
# within one run (Quillet against the same PGP runs alone, pgp against gpg), so that the ratios
# hold on another machine even where the times do not.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/benchmarks.md}")
bash tools/install.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build-bench --target pgp quillet_token_bench quillet_encrypt_bench quillet_bench

export QUILLET_ROOT
QUILLET_ROOT=$(mktemp -d)
trap 'rm -rf "$QUILLET_ROOT"' EXIT
fixtures=pgp26/tests/fixtures
table=$(mktemp)
# A benchmark that fails leaves a note in its section, and the others still run.
failed() { echo; echo "(This benchmark failed: $1 ended with $2; its own output says why.)"; }
{
  echo "# Benchmarks"
  echo
  echo "Written by \`bash tools/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), at commit" \
       "$(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . ':!docs' || echo ' with changes'):" \
       "$(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1))," \
       "load $(cut -d' ' -f1-3 /proc/loadavg) before the first run."
  echo
  echo "## Encrypting a mail: through Quillet, and the same PGP runs alone"
  echo
  echo "Each round encrypts and signs a new mail (the body and one binary attachment of the same"
  echo "size) through the simulated mail client with the real \`pgp\`, then makes the same PGP runs"
  echo "on the same inputs on their own. Medians over the rounds; the ratio is the median of the"
  echo "rounds' ratios. Prose compresses about as mail does (2:1); random text hardly at all."
  echo
  echo "| body | size | rounds | through Quillet (ms) | PGP alone (ms) | ratio |"
  echo "|---|---|---|---|---|---|"
  build-bench/quillet_encrypt_bench build-bench/pgp26/pgp "$fixtures/alice.asc" "$fixtures/bob.asc" ||
    failed quillet_encrypt_bench $?
  echo
  echo "## Token commands in process"
  echo
  echo "| measure | value | goal |"
  echo "|---|---|---|"
  build-bench/quillet_token_bench || failed quillet_token_bench $?
  echo
  echo "## \`pgp\` against \`gpg\` on key rings of growing size"
  echo
  bash bench/keyring_bench.sh build-bench || failed bench/keyring_bench.sh $?
  echo
  echo "## Token commands out of process under Wine"
  echo
  bash tools/windows.sh bench || failed "tools/windows.sh bench" $?
  echo
  echo "## The key lists and waiting for PGP"
  echo
  echo '```'
  build-bench/quillet_bench --benchmark_color=false 2>/dev/null || failed quillet_bench $?
  echo '```'
} >"$table"
mkdir -p "$(dirname "$out")"
mv "$table" "$out"
echo "written: $out"
