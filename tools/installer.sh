#!/usr/bin/env bash
# Makes an installer of Quillet from built Windows programs (installer/quillet.nsi), on Debian 12:
#   tools/installer.sh i686|x86_64 OUTFILE VERSION QUILLET_EXE PGP_EXE GNUPG_BIN
# i686 makes the product (32-bit), x86_64 its 64-bit twin. GNUPG_BIN holds gpg.exe,
# gpg-agent.exe, gpgconf.exe and gpgme-w32spawn.exe. The payload, stripped copies of the
# programs, is collected in payload-x86 or payload-amd64 beside OUTFILE; every program in it must
# import DLLs of the system only.
set -euo pipefail

if (($# != 6)); then
  echo "usage: $0 i686|x86_64 OUTFILE VERSION QUILLET_EXE PGP_EXE GNUPG_BIN" >&2
  exit 2
fi
arch=$1 outfile=$2 version=$3 quillet_exe=$4 pgp_exe=$5 gnupg_bin=$6
case $arch in
  i686) stub=x86-unicode payload_name=payload-x86 ;;
  x86_64) stub=amd64-unicode payload_name=payload-amd64 ;;
  *) echo "$0: unknown processor '$arch'" >&2; exit 2 ;;
esac
triplet=$arch-w64-mingw32
payload=$(dirname "$outfile")/$payload_name

# The DLLs the shipped programs may import: parts of every Windows, found by name in its system
# folder. Anything else would have to be shipped, or be found wherever the search path leads.
system_dlls=(ADVAPI32 COMDLG32 GDI32 KERNEL32 MSVCRT OLE32 OLEAUT32 SHELL32 USER32 WS2_32)
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

makensis -V2 -XTarget\ "$stub" -DPAYLOAD="$(realpath "$payload")" \
  -DOUTFILE="$(realpath -m "$outfile")" -DVERSION="$version" "$(dirname "$0")/../installer/quillet.nsi"
