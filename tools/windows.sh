#!/usr/bin/env bash
# Builds the Windows side, 32-bit as GroupWise and the product are, with the MinGW-w64 cross
# compiler into build-win32/ (Release, warnings as errors: the product, the PGP program with
# GnuPG for Windows, the test programs), makes the installer dist/quillet-setup.exe from it as
# tools/release.sh does, and runs every test group under Wine, on Debian 12, as root. The programs
# run under Wine's 32-bit loader (wine32:i386 beside wine64). A kernel without IA-32 emulation
# runs no 32-bit program under any Wine, so a probe checks first; on such a machine the groups run
# against a 64-bit build of the same code (build-win64/) instead, the installer's groups are left
# out (the installer is a 32-bit program), and the run says so. QUILLET_WIN32_TESTS=require makes
# such a machine fail the run instead (for a release), QUILLET_WIN32_TESTS=skip leaves every
# test out with a warning. The Wine prefix stays in build-win32/wineprefix for the next run; set
# QUILLET_WINEPREFIX to use another. After the tests, the token-command benchmark runs as a
# report. `bash tools/windows.sh bench` builds and runs that benchmark alone and writes nothing
# but its Markdown table to standard output (everything else goes to standard error).
set -euo pipefail
cd "$(dirname "$0")/.."
bench_only=false
[[ ${1:-} == bench ]] && bench_only=true
# The report's table goes to descriptor 3, the script's standard output.
if $bench_only; then exec 3>&1 1>&2; else exec 3>&1; fi

# fonts-liberation: fonts with the metrics of Arial and Times New Roman, which the user
# interface's tests measure the forms' texts in (without them, Wine falls back to any font).
bash tools/install.sh g++-mingw-w64-i686-posix wine64 wine32:i386 nsis fonts-liberation

export WINELOADER=/usr/lib/wine/wine64  # hands 32-bit programs to the 32-bit loader
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offers to install Mono or Gecko
# The test programs (GoogleTest) print their failures and a tally, not every test that passed; a
# failure ends one with a code other than 0, which fails its group.
export GTEST_BRIEF=1
wine() { timeout "$1" "$WINELOADER" "${@:2}"; }
wineserver() { timeout "$1" /usr/lib/wine/wineserver "${@:2}"; }

# A template prefix, made once and kept in build-win32/ (or QUILLET_WINEPREFIX); each group of
# tests runs in a copy of its own, so that no group meets another's registry entries or files.
template="${QUILLET_WINEPREFIX:-$PWD/build-win32/wineprefix}"
groups="$PWD/build-win32/wine-groups"
export WINEPREFIX
# Whatever happens, every prefix's wineserver ends before its prefix is deleted, so that none of
# Wine's background processes keeps a pipe of the caller's open.
cleanup() {
  for WINEPREFIX in "$template" "$groups"/*; do
    [[ -d "$WINEPREFIX" ]] && { wineserver 30 -k >/dev/null 2>&1 || true; }
  done
  rm -rf "$groups"
}
trap cleanup EXIT
cleanup

WINEPREFIX="$template"
# A prefix made before the 32-bit Wine was installed lacks the 32-bit system folder.
if [[ ! -f "$WINEPREFIX/system.reg" || ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  wine 120 wineboot --init
  wineserver 60 -w
  # No display: Wine's null graphics driver, set while no wineserver runs for the prefix, so
  # the sessions that run the tests start with it.
  wine 60 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  wineserver 60 -w
fi

# Whether this machine runs 32-bit programs: a kernel without IA-32 emulation cannot, under any
# Wine. The probe is a 32-bit hello program, started by the 32-bit loader.
probe=build-win32/probe
mkdir -p "$probe"
printf '#include <stdio.h>\nint main(void) { puts("32-bit hello"); return 0; }\n' >"$probe/hello.c"
i686-w64-mingw32-gcc-posix -o "$probe/hello.exe" "$probe/hello.c"
said=$(wine 120 "$probe/hello.exe" </dev/null 2>/dev/null | tr -d '\r' || true)
wineserver 60 -k >/dev/null 2>&1 || true
runs_32_bit=false
[[ $said == "32-bit hello" ]] && runs_32_bit=true
if ! $runs_32_bit && [[ ${QUILLET_WIN32_TESTS:-} == require ]]; then
  echo "FAIL: this machine cannot run 32-bit programs (Wine's 32-bit loader could not start a" \
    "32-bit hello program), and QUILLET_WIN32_TESTS=require: run the tests on a machine whose" \
    "kernel runs 32-bit programs (IA-32 emulation)." >&2
  exit 1
fi

# Configures and builds tree $1 for processor $2 (i686 or x86_64) with GnuPG and a static GPGME for
# the PGP program, as tools/thirdparty.sh builds them (it prints the prefix that holds them); the
# rest of the arguments go to the build. The toolchain is given on the first configuration only;
# CMake keeps it. Release, as the product ships: the test programs run against the code the
# installer holds.
build_tree() {
  local dir=$1 arch=$2 gpgme toolchain=()
  gpgme=$(bash tools/thirdparty.sh "$arch" | tail -n 1)
  [[ -f $dir/CMakeCache.txt ]] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake)
  cmake -S . -B "$dir" -G Ninja "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DQUILLET_GPGME_PREFIX="$gpgme" -DQUILLET_WERROR=ON
  cmake --build "$dir" "${@:3}"
}
# The tree whose programs the groups run, and the folder of programs that such programs go to.
tree=build-win32
program_files='Program Files (x86)'
targets=()
$bench_only && targets=(--target win32_token_bench)
if $runs_32_bit || [[ ${QUILLET_WIN32_TESTS:-} == skip ]]; then
  # Everything, with warnings as errors, also where nothing runs: tools/lint.sh checks the tree.
  build_tree build-win32 i686 "${targets[@]}"
else
  echo "WARNING: this machine cannot run 32-bit programs (Wine's 32-bit loader could not start a" \
    "32-bit hello program). The Windows tests run against a 64-bit build of the same code" \
    "(build-win64/); the 32-bit programs and the installer that ship were built, but NOT run, and" \
    "the installer's groups are left out. QUILLET_WIN32_TESTS=require fails such a run." >&2
  # Of the 32-bit tree, what ships (tools/release.sh builds it); tools/lint.sh needs only its
  # configuration.
  $bench_only || build_tree build-win32 i686 --target quillet pgp
  build_tree build-win64 x86_64 "${targets[@]}"
  tree=build-win64
  program_files='Program Files'
fi
$bench_only || bash tools/release.sh build-win32
if ! $runs_32_bit && [[ ${QUILLET_WIN32_TESTS:-} == skip ]]; then
  echo "WARNING: this machine cannot run 32-bit programs, and QUILLET_WIN32_TESTS=skip: the" \
    "Windows program that ships was built but NOT tested." >&2
  exit 0
fi

status=0
# Runs `commands` in a fresh copy of the template, then ends its wineserver and deletes it.
group() {
  local name=$1 commands=$2
  echo "=== $name"
  WINEPREFIX="$groups/$name"
  mkdir -p "$groups"
  cp -a "$template" "$WINEPREFIX"
  eval "$commands" || status=1
  wineserver 60 -k >/dev/null 2>&1 || true
  wineserver 60 -w || true
  rm -rf "$WINEPREFIX"
}

# What a token command costs in process and from another process through COM, and a 1 MB body
# rebuilt through the latter (bench/win32_token_bench.cc): a report. In the test run its outcome
# never changes the exit status; run alone, a failure ends the script with 1.
token_bench() {
  $bench_only || echo "Token commands under Wine (a report, not a test):"
  wine 900 "$tree/win32_token_bench.exe" </dev/null >&3 && return
  echo "the token-command benchmark failed"
  ! $bench_only
}
if $bench_only; then
  group token-bench token_bench
  exit "$status"
fi

group ports 'wine 300 "$tree/tests/win32/win32_contract_tests.exe"'
group bridge 'wine 300 "$tree/tests/win32/win32_bridge_tests.exe"'
group gui 'wine 300 "$tree/tests/win32/win32_gui_tests.exe"'

# quillet.exe's version information, icon and manifest.
group resources 'wine 60 "$tree/tests/win32/win32_resource_tests.exe" "$tree/quillet.exe"'

# The program as the mail client meets it, from the folder of programs of its kind (32-bit ones
# on 64-bit Windows), whose name holds a blank: registered by /regserver without a window, started
# by COM for the simulated client's extension host (a program of the same kind, as GroupWise and
# the product are 32-bit), and unregistered at the end.
client_steps() {
  local dir="$WINEPREFIX/drive_c/$program_files/Quillet Test"
  mkdir -p "$dir" && cp "$tree/quillet.exe" "$dir/" &&
    wine 300 "$tree/tests/win32/win32_client_e2e.exe" "C:\\$program_files\\Quillet Test\\quillet.exe" \
      </dev/null
}
group client client_steps

# The PGP program with GnuPG for Windows: its own tests (pgp26/tests/). Every run of a GnuPG tool
# under Wine costs about a second, so the test command takes those that try what is done
# differently on Windows (the console, the agent's start and stop, the cache, output files and
# the signature record, the program's folder as home, key lookup through gpg's command line)
# and the interoperation with gpg.exe;
# QUILLET_PGP_TESTS=all takes all of them but those about POSIX alone (about 16 minutes on two
# cores). Every test stops the agents it started.
pgp_tests='PgpToGpg.*:GpgToPgp.*:NonAsciiText.*:DeepHome.*:ArmourProblem.*:WriteWholeFile.*'
pgp_tests+=':KeyListing.WithoutPgpPathTheProgramFolderHoldsTheKeys:KeyListing.FirstRun*'
pgp_tests+=':KeyAddition.ImportsAKeyPastedIntoAMailBodyAndSkipsItTheSecondTime'
pgp_tests+=':Decryption.AsksOnTheConsoleUpToThreeTimes:Decryption.APassPhraseTypedAtAConsole*'
pgp_tests+=':Decryption.AcceptsTheRightPassPhraseOnly*:CachedPassPhrase.*'
pgp_tests+=':AgentLifetime.*:DamagedMessage.*:OutputFiles.*:ConsoleText.*'
pgp_tests+=':SignatureRecord.OneLine*:SignatureRecord.IsWritten*:SignatureRecord.AnOldRecord*'
pgp_tests+=':KeyLookup.*:KeyListing.SelectsExactly*:Config.*'
[[ ${QUILLET_PGP_TESTS:-} == all ]] && pgp_tests='*'
# Two halves at once, each in a prefix of its own, since the tests mostly wait for Wine; each
# half's output goes to a file, shown when both have ended.
pgp26_half() {
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$1 wine 3600 "$tree/pgp26/pgp26_tests.exe" \
    --gtest_filter="$pgp_tests" </dev/null
}
halves=()
for half in 0 1; do
  (group "pgp26-$half" "pgp26_half $half" >"$groups-pgp26-$half.log" 2>&1; exit "$status") &
  halves+=($!)
done
for half in 0 1; do
  wait "${halves[half]}" || status=1
  cat "$groups-pgp26-$half.log"
  rm -f "$groups-pgp26-$half.log"
done

# The installer that ships, made above from this build's programs, installed silently and removed
# again (checks: tests/installer/check_install.sh). In between, the simulated mail client drives
# the installed quillet.exe for a user who has not used it yet (win32_client_e2e.exe
# --installed): the first use makes the user's PGP folder, whose copy of the PGP program runs the
# installation's GnuPG.
installer=dist/quillet-setup.exe
export QUILLET_VERSION
QUILLET_VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win32/CMakeCache.txt)
export QUILLET_PAYLOAD=$PWD/dist/payload-x86
export QUILLET_ACCESS_CHECK=$PWD/build-win32/tests/win32/win32_access_check.exe
# Where the 32-bit installer puts things on 64-bit Windows, as in Wine's prefix.
export QUILLET_INSTALL_DIR='C:\Program Files (x86)\Quillet'
check_install() { bash tests/installer/check_install.sh "$@"; }
install() { wine 300 "$installer" /S || { echo "FAIL: the installer ended with $?"; return 1; }; }
# The uninstaller carries on as a copy of itself in the temporary folder and returns at once; the
# prefix's wineserver ends once that copy has finished.
uninstall() { wine 300 "$QUILLET_INSTALL_DIR\\uninstall.exe" /S && wineserver 300 -w; }

installer_steps() {
  local failed=0
  install || return 1
  check_install installed configured access fresh-user || failed=1
  wine 900 build-win32/tests/win32/win32_client_e2e.exe --installed \
    "Z:${PWD//\//\\}\\pgp26\\tests\\fixtures" </dev/null || failed=1
  # Every agent that the installed GnuPG started has been stopped by the PGP program (agents
  # that have ended but were not reaped do not count).
  if ps -eo stat=,args= | awk '$1 !~ /^Z/ && /Quillet.GnuPG.gpg-agent\.exe/ {print; found=1}
                               END {exit !found}'; then
    echo "FAIL: a GnuPG agent is left running"
    failed=1
  fi
  check_install user-folder || failed=1
  uninstall || failed=1
  check_install removed unconfigured || failed=1
  return "$failed"
}

# A machine where Quillet's settings and GroupWise's entries were there before: all stay.
installer_keeps_steps() {
  local failed=0
  check_install seed-earlier-choice
  install || return 1
  check_install installed earlier-choice-kept || failed=1
  # The client finds Quillet through its registration with GroupWise; without it, not at all.
  wine 60 'C:\windows\syswow64\reg.exe' delete \
    'HKLM\Software\Novell\GroupWise\5.0\C3PO\DataTypes\GW.MESSAGE.MAIL\QUILLET.C3PO' /f >/dev/null
  # Into a file: a server the client started would hold a pipe open after the client ended.
  wine 300 build-win32/tests/win32/win32_client_e2e.exe \
    --gtest_filter=InstalledSteps.ComStartsTheInstalledServer --installed 'C:\' \
    </dev/null >"$WINEPREFIX/c3po-lookup.txt" 2>&1 || true
  if ! grep -q 'no C3PO registered for mail windows' "$WINEPREFIX/c3po-lookup.txt"; then
    echo "FAIL: the client found Quillet without its registration for mail windows"
    failed=1
  fi
  uninstall || failed=1
  check_install removed earlier-choice-kept || failed=1
  return "$failed"
}

# An earlier version's shared PGP folder is left behind, its keys kept for administrators alone;
# a link in its place stops the installation before it changes anything.
installer_upgrade_steps() {
  local failed=0
  check_install seed-shared-layout
  install || return 1
  check_install installed shared-layout-left || failed=1
  check_install seed-shared-link
  if wine 300 "$installer" /S; then
    echo "FAIL: the installer went on over a link in the shared PGP folder's place"
    failed=1
  fi
  check_install shared-link-untouched || failed=1
  return "$failed"
}
# The installer is a 32-bit program: its groups need a machine that runs those.
if [[ $tree == build-win32 ]]; then
  group installer installer_steps
  group installer-keeps installer_keeps_steps
  group installer-upgrade installer_upgrade_steps
fi
group token-bench token_bench
exit "$status"
