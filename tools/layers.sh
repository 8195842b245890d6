#!/usr/bin/env bash
# Checks that each folder includes only what lies beneath it (README, "Design"); prints each
# include that does not, and exits with 1 if there is one. Run by the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [base]="base/"
  [platform]="base/ platform/"
  [channel]="base/ platform/ channel/"
  [pgp]="base/ platform/ pgp/"
  [ui]="base/ platform/ channel/ pgp/ ui/"
  [host]="base/ platform/ channel/ pgp/ ui/ host/"
  [mailsim]="base/ platform/ mailsim/"
  # pgp is a program of its own; of the platform layer it takes the header-only handle owners.
  [pgp26]="base/ platform/win32/unique_handle.h platform/win32/private_to_user.h pgp26/"
)
status=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    included=${hit#*#include \"}
    included=${included%\"*}
    ok=false
    for prefix in ${allowed[$folder]}; do
      [[ $included == "$prefix"* ]] && ok=true
    done
    if ! $ok; then
      echo "$hit: $folder/ may not include $included"
      status=1
    fi
  done < <(grep -rnE '^#include "[a-z0-9_]+/' "$folder" --include='*.h' --include='*.cc' |
             grep -v "^$folder/tests/" || true)
done
exit "$status"
