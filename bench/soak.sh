#!/usr/bin/env bash
# A working day in one Quillet process with the real PGP program (bench/soak.cc): prints, as a
# Markdown table, what the process holds after the first and the last of ROUNDS rounds (300 when
# not given) and the growth per round. A report, not a test: rerun it after a change that makes
# or keeps windows, files or processes, and look at the last column.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-300}
bash tools/install.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --target pgp quillet_soak >/dev/null
build-bench/quillet_soak build-bench/pgp26/pgp pgp26/tests/fixtures/alice.asc "$rounds" 2>/dev/null
