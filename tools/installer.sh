#!/usr/bin/env bash
# Makes the installer of Quillet from the built 32-bit Windows programs (installer/quillet.nsi), on
# Debian 12:
#   tools/installer.sh OUTFILE VERSION QUILLET_EXE PGP_EXE GNUPG_BIN
# GNUPG_BIN holds gpg.exe, gpg-agent.exe, gpgconf.exe and gpgme-w32spawn.exe. The payload,
# stripped copies of the programs, is collected in payload-x86 beside OUTFILE; every program in it
# must import DLLs of the system only.
set -euo pipefail

if (($# != 5)); then
  echo "usage: $0 OUTFILE VERSION QUILLET_EXE PGP_EXE GNUPG_BIN" >&2
  exit 2
fi
outfile=$1 version=$2 quillet_exe=$3 pgp_exe=$4 gnupg_bin=$5
triplet=i686-w64-mingw32
payload=$(dirname "$outfile")/payload-x86

# The DLLs the shipped programs may import: parts of every Windows, found by name in its system
# folder. Anything else would have to be shipped, or be found wherever the search path leads.
system_dlls=(ADVAPI32 COMCTL32 COMDLG32 GDI32 KERNEL32 MSVCRT OLE32 OLEAUT32 SHELL32 USER32 WS2_32)
is_system_dll() {
  local allowed
  for allowed in "${system_dlls[@]}"; do
    [[ ${1^^} == "$allowed.DLL" ]] && return 0
  done
  return 1
}

sources=("$quillet_exe" "$pgp_exe")
for name in gpg gpg-agent gpgconf gpgme-w32spawn; do sources+=("$gnupg_bin/$name.exe"); done
missing=()
for source in "${sources[@]}"; do
  [[ -f $source ]] || missing+=("$source")
done
if ((${#missing[@]})); then
  printf '%s: missing from the payload: %s\n' "$0" "${missing[@]}" >&2
  exit 1
fi

rm -rf "$payload"
mkdir -p "$payload"
cp "$quillet_exe" "$payload/quillet.exe"
cp "$pgp_exe" "$payload/pgp.exe"
for name in gpg gpg-agent gpgconf gpgme-w32spawn; do cp "$gnupg_bin/$name.exe" "$payload/"; done
"$triplet-strip" "$payload"/*.exe

status=0
for program in "$payload"/*.exe; do
  while read -r dll; do
    if ! is_system_dll "$dll"; then
      echo "$0: ${program##*/} imports $dll, which is not among the system DLLs allowed here" >&2
      status=1
    fi
  done < <("$triplet-objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
((status == 0)) || exit 1

makensis -V2 -XTarget\ x86-unicode -DPAYLOAD="$(realpath "$payload")" \
  -DOUTFILE="$(realpath -m "$outfile")" -DVERSION="$version" "$(dirname "$0")/../installer/quillet.nsi"
