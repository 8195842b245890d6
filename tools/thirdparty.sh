#!/usr/bin/env bash
# Builds the Windows parts of GnuPG and GPGME that the pgp program needs, from Debian's own source
# packages and Debian's MinGW libraries, statically, on Debian 12, as root:
#   tools/thirdparty.sh i686|x86_64
# The last line on stdout is the absolute path of a finished prefix:
#   bin/gpg.exe bin/gpg-agent.exe bin/gpgconf.exe bin/gpgme-w32spawn.exe (stripped)
#   include/gpgme.h include/gpg-error.h include/gpgrt.h include/assuan.h
#   lib/libgpgme.a lib/libassuan.a lib/libgpg-error.a
# A program links with: -I<prefix>/include -static -L<prefix>/lib -lgpgme -lassuan -lgpg-error
# -lws2_32, and needs the four programs beside it at run time.
# Everything else goes to stderr; the build's own output goes to a log in the cache.
#
# The cache, outside the work tree, is ${QUILLET_CACHE:-${XDG_CACHE_HOME:-~/.cache}/quillet}/
# thirdparty: the private source lists, the downloaded sources (one directory per version) and one
# prefix per architecture and key. The key covers the source versions the archive offers now, the
# installed MinGW packages, this script and its GPGME patch (gpgme-w32-reader-eof.patch), so an
# unchanged run only refreshes the lists.
set -euo pipefail
exec 3>&1 1>&2  # stdout carries the prefix only

self=$(realpath "${BASH_SOURCE[0]}")
cd "$(dirname "$self")/.."

arch=${1:-}
case $arch in
  i686) debarch=i686 ;;
  x86_64) debarch=x86-64 ;;
  *) echo "usage: $0 i686|x86_64" >&2; exit 2 ;;
esac
host=$arch-w64-mingw32
sysroot=/usr/$host
mingw_packages=(
  "g++-mingw-w64-$debarch-posix" "gcc-mingw-w64-$debarch-posix" "gcc-mingw-w64-$debarch-posix-runtime"
  "binutils-mingw-w64-$debarch" "mingw-w64-$debarch-dev" mingw-w64-common
  libgpg-error-mingw-w64-dev libassuan-mingw-w64-dev libgcrypt-mingw-w64-dev
  libksba-mingw-w64-dev libnpth-mingw-w64-dev libz-mingw-w64-dev libz-mingw-w64
)
bash tools/install.sh "${mingw_packages[@]}" dpkg-dev make util-linux

root=$(realpath -m "${QUILLET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillet}/thirdparty")
mkdir -p "$root/apt/sources.list.d" "$root/apt/lists/partial" "$root/apt/cache/archives/partial" \
  "$root/sources"

# apt works on private lists with deb-src entries for the machine's own Debian archives, so the
# machine's configuration stays as it is.
apt_options=(
  -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$root/apt/sources.list.d"
  -o "Dir::State::Lists=$root/apt/lists" -o "Dir::Cache=$root/apt/cache"
  -o APT::Sandbox::User=root  # the _apt user may not enter the cache
)
# shellcheck disable=SC2016 # apt's own placeholders
apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Origin: Debian' \
    'Identifier: Packages' | sort -u |
  while read -r uri suite component; do
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\nSigned-By: %s\n\n' \
      "$uri" "$suite" "$component" /usr/share/keyrings/debian-archive-keyring.gpg
  done >"$root/apt/sources.list.d/debian-src.sources"

# Runs share the lists and the sources.
exec {apt_lock}>"$root/apt/lock"
flock "$apt_lock"
apt-get "${apt_options[@]}" -q update

# The versions of source package $1 the archive lists, newest first.
versions() {
  local sorted=() version i
  while read -r version; do
    for ((i = ${#sorted[@]}; i > 0; i--)); do
      dpkg --compare-versions "${sorted[i - 1]}" ge "$version" && break
      sorted[i]=${sorted[i - 1]}
    done
    sorted[i]=$version
  done < <(apt-cache "${apt_options[@]}" showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -u)
  printf '%s\n' "${sorted[@]}"
}

# Sets source_dir to the directory holding the files of source package $1, newest version first:
# the security archive may list a version whose files it no longer serves, and then the one the
# release lists is taken.
fetch_source() {
  local version download
  for version in $(versions "$1"); do
    source_dir=$root/sources/${1}_$version
    [[ -d $source_dir ]] && return
    download=$(mktemp -d "$root/sources/.${1}_$version.XXXXXX")
    if (cd "$download" && apt-get "${apt_options[@]}" -q source --download-only "$1=$version"); then
      mv -T "$download" "$source_dir"
      return
    fi
    rm -rf "$download"
    echo "thirdparty: $1 $version cannot be downloaded, trying an older version" >&2
  done
  echo "thirdparty: no version of $1 can be downloaded" >&2
  return 1
}
fetch_source gnupg2
gnupg_source=$source_dir
fetch_source gpgme1.0
gpgme_source=$source_dir
exec {apt_lock}>&-

manifest=$(
  echo "gnupg2 ${gnupg_source##*/gnupg2_}"
  echo "gpgme1.0 ${gpgme_source##*/gpgme1.0_}"
  dpkg-query -W -f '${Package} ${Version}\n' "${mingw_packages[@]}"
  echo "thirdparty.sh $(sha256sum <"$self" | cut -d' ' -f1)"
  echo "gpgme-w32-reader-eof.patch $(sha256sum <tools/gpgme-w32-reader-eof.patch | cut -d' ' -f1)"
)
key=$(sha256sum <<<"$manifest" | cut -c1-16)
prefix=$root/$arch-$key
if [[ -d $prefix ]]; then
  echo "$prefix" >&3
  exit 0
fi

# The build happens in a directory of its own and the prefix appears by one rename at the end,
# so an interrupted build never looks finished.
work=$(mktemp -d "$root/.$arch-$key.XXXXXX")
log=$root/$arch-$key.log
: >"$log"
finish() {
  local status=$?
  rm -rf "$work"
  if ((status)); then
    echo "thirdparty: failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
  fi
}
trap finish EXIT
trap 'exit 130' INT TERM

step() {
  echo "thirdparty: $1 ($((SECONDS / 60))m$((SECONDS % 60))s)" >&2
  shift
  "$@" >>"$log" 2>&1
}
in_dir() (cd "$1" && "${@:2}")

export CC=$host-gcc-posix
static_ldflags="-Xlinker --no-insert-timestamp -static"
library_prefixes=(--with-libgpg-error-prefix="$sysroot" --with-libassuan-prefix="$sysroot")

step "unpacking GnuPG ${gnupg_source##*/gnupg2_}" dpkg-source -x "$gnupg_source"/*.dsc "$work/gnupg"
mkdir "$work/gnupg-build"
# Only gpg, gpg-agent and gpgconf are made. GnuPG names -lws2_32 before the static libraries
# that need it; LIBS repeats it at the end of every link.
step "configuring GnuPG" in_dir "$work/gnupg-build" ../gnupg/configure --host="$host" \
  --disable-gpgsm --disable-scdaemon --disable-dirmngr --disable-doc --disable-gpgtar \
  --disable-wks-tools --disable-g13 --disable-tofu --disable-sqlite --disable-ldap \
  --disable-gnutls --disable-ntbtls --disable-libdns --disable-card-support \
  --disable-ccid-driver --disable-bzip2 --disable-exec --disable-photo-viewers --disable-nls \
  --disable-tests --disable-dirmngr-auto-start \
  "${library_prefixes[@]}" --with-libgcrypt-prefix="$sysroot" --with-libksba-prefix="$sysroot" \
  --with-npth-prefix="$sysroot" --with-zlib="$sysroot" \
  CFLAGS=-O2 LDFLAGS="$static_ldflags" LIBS=-lws2_32
gnupg_make() { step "building GnuPG in $1" make -j2 -C "$work/gnupg-build/$1" "${@:2}"; }
gnupg_make common libcommon.a libcommonpth.a libgpgrl.a libsimple-pwquery.a
gnupg_make kbx libkeybox.a
gnupg_make regexp libregexp.a
gnupg_make g10 gpg.exe
gnupg_make agent gpg-agent.exe
gnupg_make tools gpgconf.exe

# Debian's patches to GPGME change configure.ac, which would need autoreconf; upstream's tarball
# is used with one fix of ours: its reader thread could signal the end of a program's output just
# before the reading side cleared that signal, and the read then waited for ever (pgp hung so
# under Wine on a busy machine). Only the library and the helper that starts programs for it are
# made.
for tarball in "$gpgme_source"/*.orig.tar.*; do
  [[ $tarball == *.asc ]] || gpgme_tarball=$tarball
done
mkdir "$work/gpgme" "$work/gpgme-build"
step "unpacking GPGME ${gpgme_tarball##*/}" tar -xf "$gpgme_tarball" -C "$work/gpgme" \
  --strip-components=1
step "patching GPGME" patch -d "$work/gpgme" -p1 -i "$PWD/tools/gpgme-w32-reader-eof.patch"
step "configuring GPGME" in_dir "$work/gpgme-build" ../gpgme/configure --host="$host" \
  --enable-static --disable-shared --enable-languages=no \
  --disable-gpgconf-test --disable-gpg-test --disable-gpgsm-test --disable-g13-test \
  "${library_prefixes[@]}" CFLAGS=-O2 LDFLAGS="$static_ldflags"
step "building GPGME" make -j2 -C "$work/gpgme-build/src" libgpgme.la gpgme-w32spawn.exe

staged=$work/prefix
mkdir -p "$staged/bin" "$staged/include" "$staged/lib"
cp "$work/gnupg-build/g10/gpg.exe" "$work/gnupg-build/agent/gpg-agent.exe" \
  "$work/gnupg-build/tools/gpgconf.exe" "$work/gpgme-build/src/gpgme-w32spawn.exe" "$staged/bin"
"$host-strip" "$staged"/bin/*.exe
cp "$work/gpgme-build/src/gpgme.h" "$sysroot/include/gpg-error.h" "$sysroot/include/gpgrt.h" \
  "$sysroot/include/assuan.h" "$staged/include"
cp "$work/gpgme-build/src/.libs/libgpgme.a" "$sysroot/lib/libassuan.a" "$sysroot/lib/libgpg-error.a" \
  "$staged/lib"
echo "$manifest" >"$staged/versions.txt"
# A concurrent run may have finished the same prefix first; either copy will do.
mv -T "$staged" "$prefix" 2>/dev/null || [[ -d $prefix ]]
echo "thirdparty: done in $((SECONDS / 60))m$((SECONDS % 60))s" >&2
echo "$prefix" >&3
