#!/usr/bin/env bash
# How pgp keeps up with plain gpg as the key ring grows: rings of 100, 1,000 and 10,000 public keys
# with Alice's and Bob's keys (pgp26/tests/fixtures) after them, and in each
#   - encrypting and signing 1 MB of prose to Bob, as Quillet has pgp do it, against gpg doing the
#     same with its own options;
#   - listing the public ring: pgp -kv against gpg --list-keys.
# Each time is the median of ROUNDS rounds (7 unless set), pgp and gpg taking turns in each round,
# each run starting with no agent, as a run of pgp from Quillet does. Prints a Markdown table.
#
#   bash bench/keyring_bench.sh BUILD_DIR
#
# The generated keys take minutes to make, so the first run keeps the rings, and the homes made
# from them, under ~/.cache/quillet/bench/ (or $XDG_CACHE_HOME), keyed by this script's contents;
# later runs take seconds per round.
set -euo pipefail

if [[ $# -ne 1 || ! -x $1/pgp26/pgp ]]; then
  echo "usage: $0 BUILD_DIR   (a build directory that holds pgp26/pgp)" >&2
  exit 2
fi
pgp=$(cd "$1" && pwd)/pgp26/pgp
fixtures=$(cd "$(dirname "$0")/../pgp26/tests/fixtures" && pwd)
rounds=${ROUNDS:-7}
sizes=(100 1000 10000)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillet/bench/keyring-$(sha256sum "$0" | cut -c1-16)
work=$(mktemp -d)
homes=()

# Every agent this script may have started goes, whatever ends it.
stop_agents() {
  local home
  for home in "${homes[@]}"; do gpgconf --homedir "$home" --kill gpg-agent 2>/dev/null || true; done
}
trap 'stop_agents; rm -rf "$work"' EXIT

# Sets `home` to a new, empty GnuPG home.
new_home() {
  home=$(mktemp -d "$work/home.XXXXXX")
  chmod 700 "$home"
  homes+=("$home")
}

# The public keys numbered FIRST to LAST, Ed25519 with a Cv25519 subkey each, armoured to FILE.
make_keys() {
  local first=$1 last=$2 file=$3 home n
  new_home
  for ((n = first; n <= last; n++)); do
    printf 'Key-Type: eddsa\nKey-Curve: ed25519\nKey-Usage: sign\nSubkey-Type: ecdh\n'
    printf 'Subkey-Curve: cv25519\nSubkey-Usage: encrypt\nName-Real: Person %05d\n' "$n"
    printf 'Name-Email: person%05d@bench.example\nExpire-Date: 0\n%%no-protection\n%%commit\n' "$n"
  done >"$work/params"
  gpg --homedir "$home" --batch --quiet --no-auto-check-trustdb --gen-key "$work/params" 2>/dev/null
  gpg --homedir "$home" --batch --armor --export >"$file.partial"
  gpgconf --homedir "$home" --kill gpg-agent
  mv "$file.partial" "$file"
}

# A home as pgp leaves it, with the first SIZE generated keys and then Alice's and Bob's.
make_home() {
  local size=$1 home=$cache/home-$1 ring
  rm -rf "$home.partial"
  mkdir -m 700 -p "$home.partial"
  homes+=("$home.partial")
  printf 'default-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n' \
    >"$home.partial/gpg-agent.conf"
  for ring in "${sizes[@]}"; do
    ((ring <= size)) || break
    gpg --homedir "$home.partial" --batch --quiet --import "$cache/ring-$ring.asc" 2>/dev/null
  done
  gpg --homedir "$home.partial" --batch --quiet --import "$fixtures/alice.asc" "$fixtures/bob.asc" \
    2>/dev/null
  # Settled once here, not in whichever timed run would come first.
  gpg --homedir "$home.partial" --batch --check-trustdb 2>/dev/null
  gpgconf --homedir "$home.partial" --kill gpg-agent
  mv "$home.partial" "$home"
}

mkdir -p "$cache"
if [[ ! -f $cache/ring-10000.asc ]]; then
  echo "Making 10,000 keys once, for $cache ..." >&2
  started=$SECONDS
  previous=0
  for size in "${sizes[@]}"; do
    make_keys $((previous + 1)) "$size" "$cache/ring-$size.asc"
    previous=$size
  done
  echo "The keys took $((SECONDS - started)) s to make." >&2
fi
for size in "${sizes[@]}"; do
  if [[ ! -d $cache/home-$size ]]; then
    started=$SECONDS
    make_home "$size"
    echo "The home with $size keys took $((SECONDS - started)) s to fill." >&2
  fi
done

# 1 MB of prose, in lines of words.
awk 'BEGIN {
  split("the plans are in the safe and the key to it lies under the third stone of the garden " \
        "wall where nobody would think of looking unless they had read this letter", word, " ");
  n = length(word); seed = 1; line = ""; size = 0;
  while (size < 1048576) {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    w = word[1 + int(seed / 65536) % n];
    if (length(line) + length(w) >= 72) { print line "."; size += length(line) + 2; line = "" }
    line = line (line == "" ? toupper(substr(w, 1, 1)) substr(w, 2) : " " w);
  }
}' >"$work/letter.txt"

# Runs the command after the home, from no agent, and prints how long it took in microseconds.
timed() {
  local home=$1 start end
  shift
  gpgconf --homedir "$home" --kill gpg-agent
  cp "$work/letter.txt" "$work/letter"  # pgp's "w" wipes it
  start=$(date +%s%N)
  if ! "$@" >/dev/null 2>"$work/err"; then
    echo "failed: $*" >&2
    cat "$work/err" >&2
    exit 1
  fi
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

row() {  # SIZE OPERATION PGP_US GPG_US GOAL
  awk -v size="$1" -v op="$2" -v p="$3" -v g="$4" -v goal="$5" 'BEGIN {
    for (grouped = ""; length(size) > 3; size = substr(size, 1, length(size) - 3))
      grouped = "," substr(size, length(size) - 2) grouped
    size = size grouped
    printf "| %s | %s | %.1f | %.1f | %.2fx | %s |\n", size, op, p / 1000, g / 1000, p / g, goal
  }'
}

echo "| ring size | operation | pgp (ms) | gpg (ms) | ratio | goal |"
echo "|---:|---|---:|---:|---:|---|"
for size in "${sizes[@]}"; do
  new_home
  cp -r "$cache/home-$size/." "$home/"
  export PGPPATH=$home
  for times in pgp-seaw gpg-seaw pgp-kv gpg-kv; do : >"$work/$times"; done
  for ((round = 0; round < rounds; round++)); do
    timed "$home" "$pgp" +force -z "alice pass" -seaw "$work/letter" "<bob@example.org>" \
      -u "<alice@example.com>" >>"$work/pgp-seaw"
    timed "$home" gpg --homedir "$home" --batch --yes --pinentry-mode loopback \
      --passphrase "alice pass" --trust-model always -r "<bob@example.org>" \
      -u "<alice@example.com>" --armor --sign --encrypt --output "$work/letter.asc" \
      "$work/letter" >>"$work/gpg-seaw"
    timed "$home" "$pgp" -kv >>"$work/pgp-kv"
    timed "$home" gpg --homedir "$home" --list-keys >>"$work/gpg-kv"
  done
  goal_seaw="—" goal_kv="—"
  ((size == 10000)) && goal_seaw="≤ 1.2x"
  ((size == 100 || size == 10000)) && goal_kv="≤ 2x"
  row "$size" "encrypt+sign 1 MB (-seaw)" "$(median <"$work/pgp-seaw")" \
    "$(median <"$work/gpg-seaw")" "$goal_seaw"
  row "$size" "list the ring (-kv)" "$(median <"$work/pgp-kv")" "$(median <"$work/gpg-kv")" \
    "$goal_kv"
  gpgconf --homedir "$home" --kill gpg-agent
done
