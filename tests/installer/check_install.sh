#!/usr/bin/env bash
# Checks what Quillet's installer and uninstaller leave in a Wine prefix, one line for every
# failed check, and puts in place what the checks need:
#   tests/installer/check_install.sh STEP...
# Steps, in the order given:
#   installed            the programs, the GnuPG folder and its registry entry, the run log, the
#                        server's COM entries, the GroupWise C3PO entries and the uninstall entry
#   configured           quillet.ini names each user's own PGP program
#   access               the access lists of the installation, the GnuPG folder and the run log,
#                        and the lists the installer sets, as written (win32_access_check.exe)
#   fresh-user           the user has no PGP folder and no configuration of their own yet
#   user-folder          the user's PGP folder, made on first use: a copy of the installation's
#                        PGP program, no GnuPG program, the batch file naming the copy, the PGP
#                        options Quillet writes, nothing in it that others may change
#   removed              no entry and no program left; the user's PGP folder kept as it was
#   unconfigured         quillet.ini and the run log the installation made gone
#   seed-earlier-choice  before installing: a quillet.ini naming another PGP program, a run log
#                        with entries, GroupWise's own entries and another C3PO server's
#   earlier-choice-kept  all of those still as they were
#   seed-shared-layout   before installing: an earlier version's shared PGP folder with its
#                        programs, Quillet's files and key rings, and quillet.ini naming it
#   shared-layout-left   its programs and Quillet's files gone, its key rings kept for
#                        administrators alone, quillet.ini naming each user's own program
#   seed-shared-link     a link in the shared PGP folder's place, to a folder with a program
#   shared-link-untouched  the folder behind the link as it was
# Environment: WINEPREFIX and WINELOADER; QUILLET_INSTALL_DIR (the Windows path of the program
# folder); QUILLET_PAYLOAD (the folder of the programs the installer holds) and QUILLET_VERSION
# (its version); QUILLET_ACCESS_CHECK (win32_access_check.exe).
set -uo pipefail
cd "$(dirname "$0")/../.."

install_dir=$QUILLET_INSTALL_DIR
gnupg_dir="$install_dir\\GnuPG"
# Wine names the user's profile folder after the user who runs it.
user_dir="C:\\users\\$(id -un)\\AppData\\Roaming\\Quillet"
user_pgp_dir="$user_dir\\PGP"
shared_dir='C:\ProgramData\Quillet'
shared_pgp_dir="$shared_dir\\PGP"
clsid='{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}'
datatypes='HKLM\Software\Novell\GroupWise\5.0\C3PO\DataTypes'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet'
pgp_programs=(pgp.exe gpg.exe gpg-agent.exe gpgconf.exe gpgme-w32spawn.exe)
user_files=(pubring.kbx trustdb.gpg gpg-agent.conf 'private-keys-v1.d\0123456789ABCDEF.key'
  doc-notes.txt)
leftovers=(quillet.key quillet.sec quillet.key.ids quillet.sec.ids pgpkey.bat temppgp temppgp.asc
  doc0 doc0.asc doc1 doc1.asc doc2.asc.partial gpgconf.ctl)

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

unix_path() {
  local path=${1//\\//}
  echo "$WINEPREFIX/drive_c/${path#[Cc]:/}"
}

# The registry as 32-bit programs see it, through the 32-bit reg.exe: the 32-bit installer writes
# there, and 32-bit GroupWise and COM's start of the 32-bit server read there.
reg() { timeout 60 "$WINELOADER" 'C:\windows\syswow64\reg.exe' "$@"; }

# The registry entries the checks look at, one line per key ("KEY<tab><tab>") and per value
# ("KEY<tab>NAME<tab>DATA"), keys and names in lower case.
registry=
load_registry() {
  local key
  registry=$(for key in 'HKLM\Software\Novell' 'HKLM\Software\Quillet' 'HKCR\QUILLET.C3PO' \
      "HKCR\\CLSID\\$clsid" "$uninstall_key"; do
    reg query "$key" /s 2>/dev/null
  done | tr -d '\r' | awk -v OFS='\t' '
    /^HKEY_/ {
      key = $0
      sub(/^HKEY_LOCAL_MACHINE/, "HKLM", key)
      sub(/^HKEY_CLASSES_ROOT/, "HKCR", key)
      key = tolower(key)
      print key, "", ""
      next
    }
    /^    [^ ]/ {
      line = substr($0, 5)
      cut = index(line, "    ")
      name = substr(line, 1, cut - 1)
      rest = substr(line, cut + 4)
      cut = index(rest, "    ")
      print key, tolower(name), cut ? substr(rest, cut + 4) : ""
    }')
}

# Keys and names reach awk through the environment, which keeps their backslashes as they are.
has_key() {
  KEY=${1,,} awk -F'\t' '$1 == ENVIRON["KEY"] && $2 == "" { found = 1 } END { exit !found }' \
    <<<"$registry"
}

# Prints the data of value $2 ("(Default)" for the key's own) of key $1; fails when it is missing.
value_of() {
  KEY=${1,,} NAME=${2,,} awk -F'\t' '
    $1 == ENVIRON["KEY"] && $2 == ENVIRON["NAME"] { print $3; found = 1 } END { exit !found }' \
    <<<"$registry"
}

expect_value() {
  local key=$1 name=$2 expected=$3 actual
  if ! actual=$(value_of "$key" "$name"); then
    fail "no value $name in $key"
  elif [[ $actual != "$expected" ]]; then
    fail "$key $name is '$actual', not '$expected'"
  fi
}

expect_no_key() {
  has_key "$1" && fail "$1 is still there"
}

# The registrations with GroupWise, from the one list the installer writes them from:
# "CONTEXT SUBKEY NAME" per line.
c3po_entries() {
  sed -n 's/^ *!insertmacro \${_entry} "\([^"]*\)" "\([^"]*\)" "\([^"]*\)"$/\1 \2 \3/p' \
    installer/c3po_keys.nsh
}

expect_file() {
  [[ -f $(unix_path "$1") ]] || fail "$1 is missing"
}

expect_no_file() {
  [[ -e $(unix_path "$1") ]] && fail "$1 is still there"
}

expect_content() {
  local path=$1 expected=$2
  if [[ ! -f $(unix_path "$path") ]]; then
    fail "$path is missing"
  elif ! cmp -s <(printf '%s' "$expected") "$(unix_path "$path")"; then
    fail "$path holds '$(cat -v "$(unix_path "$path")")', not '$(printf '%s' "$expected" | cat -v)'"
  fi
}

expect_same_program() {
  local path=$1 payload_file=$2
  if [[ ! -f $(unix_path "$path") ]]; then
    fail "$path is missing"
  elif ! cmp -s "$payload_file" "$(unix_path "$path")"; then
    fail "$path is not the installer's $(basename "$payload_file")"
  fi
}

check_installed() {
  local program context subkey name server payload_kb size
  expect_same_program "$install_dir\\quillet.exe" "$QUILLET_PAYLOAD/quillet.exe"
  expect_file "$install_dir\\uninstall.exe"
  for program in "${pgp_programs[@]}"; do
    expect_same_program "$gnupg_dir\\$program" "$QUILLET_PAYLOAD/$program"
  done
  expect_file 'C:\quillet.log'

  load_registry
  expect_value 'HKLM\Software\Quillet' GnuPG "$gnupg_dir"
  expect_value 'HKCR\QUILLET.C3PO\Clsid' '(Default)' "$clsid"
  if ! server=$(value_of "HKCR\\CLSID\\$clsid\\LocalServer32" '(Default)'); then
    fail "no LocalServer32 for $clsid"
  elif [[ $server != "$install_dir\\quillet.exe" && $server != "\"$install_dir\\quillet.exe\"" ]]
  then
    fail "the server of $clsid is '$server', not the installed quillet.exe"
  fi

  c3po_entries | grep -qx 'GW.MESSAGE.MAIL Objects CommandFactory' ||
    fail "installer/c3po_keys.nsh registers no command factory for mail windows"
  while read -r context subkey name; do
    expect_value "$datatypes\\$context\\QUILLET.C3PO\\$subkey" "$name" ""
  done < <(c3po_entries)

  expect_value "$uninstall_key" DisplayName Quillet
  expect_value "$uninstall_key" DisplayVersion "$QUILLET_VERSION"
  expect_value "$uninstall_key" Publisher Quillet
  expect_value "$uninstall_key" UninstallString "\"$install_dir\\uninstall.exe\""
  expect_value "$uninstall_key" QuietUninstallString "\"$install_dir\\uninstall.exe\" /S"
  expect_value "$uninstall_key" InstallLocation "$install_dir"
  expect_value "$uninstall_key" DisplayIcon "$install_dir\\quillet.exe"
  expect_value "$uninstall_key" NoModify 0x1
  expect_value "$uninstall_key" NoRepair 0x1
  payload_kb=$(($(cat "$QUILLET_PAYLOAD"/*.exe | wc -c) / 1024))
  if ! size=$(value_of "$uninstall_key" EstimatedSize); then
    fail "no value EstimatedSize in $uninstall_key"
  elif ((size < payload_kb)); then
    fail "EstimatedSize is $((size)) KB, less than the $payload_kb KB of the programs"
  fi
}

user_program='%APPDATA%\Quillet\PGP\pgp.exe'
check_configured() {
  expect_content 'C:\windows\quillet.ini' \
    "$install_dir\\quillet.exe"$'\r\n'"$user_program"$'\r\n'"Quillet keeps the location of the PGP program here."$'\r\n'"Do not delete.  Required by QUILLET program"$'\r\n'
}

# The access lists as the installer writes them, from its script.
access_list() {
  sed -n "s/^!define $1 \"\(.*\)\"$/\1/p" installer/quillet.nsi
}

access_check() {
  timeout 120 "$WINELOADER" "$QUILLET_ACCESS_CHECK" "$@" | tr -d '\r' || status=1
}

check_access() {
  access_check --programs "$install_dir" "$(access_list PROGRAMS_ACCESS)" \
    --log 'C:\quillet.log' "$(access_list RUN_LOG_ACCESS)" \
    --private "$(access_list ADMINISTRATORS_ACCESS)"
}

check_fresh_user() {
  expect_no_file "$user_pgp_dir"
  expect_no_file "$user_dir\\quillet.ini"
}

check_user_folder() {
  local program
  expect_same_program "$user_pgp_dir\\pgp.exe" "$QUILLET_PAYLOAD/pgp.exe"
  for program in "${pgp_programs[@]:1}"; do expect_no_file "$user_pgp_dir\\$program"; done
  expect_content "$user_pgp_dir\\pgpkey.bat" \
    "$user_pgp_dir\\pgp.exe -kvc > quillet.key"$'\r\n'"$user_pgp_dir\\pgp.exe -kvc secring.pgp > quillet.sec"$'\r\n'
  expect_content "$user_pgp_dir\\config.txt" $'EncryptToSelf = on\r\nArmorLines = 0\r\n'
  access_check --programs "$user_pgp_dir"
  # What the checks after uninstalling compare with.
  find "$(unix_path "$user_pgp_dir")" -type f -print0 | sort -z | xargs -0 md5sum \
    >"$WINEPREFIX/user-folder.sums"
}

check_removed() {
  local context
  load_registry
  expect_no_key 'HKCR\QUILLET.C3PO'
  expect_no_key "HKCR\\CLSID\\$clsid"
  expect_no_key 'HKLM\Software\Quillet'
  while read -r context; do
    expect_no_key "$datatypes\\$context\\QUILLET.C3PO"
  done < <(c3po_entries | cut -d' ' -f1 | sort -u)
  expect_no_key "$uninstall_key"
  [[ -e $(unix_path "$install_dir") ]] && fail "$install_dir is still there"
  if [[ -f $WINEPREFIX/user-folder.sums ]]; then
    md5sum --quiet -c "$WINEPREFIX/user-folder.sums" || fail "the user's PGP folder was changed"
  fi
}

check_unconfigured() {
  expect_no_file 'C:\windows\quillet.ini'
  expect_no_file 'C:\quillet.log'
}

earlier_configuration=$'C:\\PGP\\QUILLET.EXE\r\nC:\\PGP\\PGP.EXE\r\nnotice\r\nDo not delete.  Required by QUILLET program\r\n'
earlier_log=$'Command line\r\nC:\\PGP\\PGP.EXE -kg\r\n'
other_server="$datatypes\\GW.MESSAGE.MAIL\\Other.C3POServer\\Objects"

seed_earlier_choice() {
  printf '%s' "$earlier_configuration" >"$(unix_path 'C:\windows\quillet.ini')"
  printf '%s' "$earlier_log" >"$(unix_path 'C:\quillet.log')"
  reg add 'HKLM\Software\Novell\GroupWise\5.0' /v InstallPath /d 'C:\GroupWise' /f >/dev/null
  reg add "$other_server" /v CommandFactory /d '' /f >/dev/null
}

seed_shared_layout() {
  local file path
  for file in "${pgp_programs[@]}" "${user_files[@]}" "${leftovers[@]}"; do
    path=$(unix_path "$shared_pgp_dir\\$file")
    mkdir -p "$(dirname "$path")"
    echo "$file" >"$path"
  done
  printf '%s' "$install_dir\\quillet.exe"$'\r\n'"$shared_pgp_dir\\pgp.exe"$'\r\nnotice\r\nDo not delete.\r\n' \
    >"$(unix_path 'C:\windows\quillet.ini')"
}

check_shared_layout_left() {
  local file
  for file in "${pgp_programs[@]}" "${leftovers[@]}"; do
    expect_no_file "$shared_pgp_dir\\$file"
  done
  for file in "${user_files[@]}"; do expect_content "$shared_pgp_dir\\$file" "$file"$'\n'; done
  access_check --private "$shared_dir"
  check_configured
}

# Wine shows a Unix symbolic link as a Windows link (a reparse point).
seed_shared_link() {
  local target="$WINEPREFIX/drive_c/elsewhere"
  mkdir -p "$target" "$(unix_path "$shared_dir")"
  echo pgp.exe >"$target/pgp.exe"
  rm -rf "$(unix_path "$shared_pgp_dir")"
  ln -s "$target" "$(unix_path "$shared_pgp_dir")"
}

check_shared_link_untouched() {
  expect_content 'C:\elsewhere\pgp.exe' $'pgp.exe\n'
  [[ $(stat -c %a "$WINEPREFIX/drive_c/elsewhere") == 755 ]] ||
    fail "the access to the folder behind the link was changed"
}

check_earlier_choice_kept() {
  expect_content 'C:\windows\quillet.ini' "$earlier_configuration"
  expect_content 'C:\quillet.log' "$earlier_log"
  load_registry
  expect_value 'HKLM\Software\Novell\GroupWise\5.0' InstallPath 'C:\GroupWise'
  expect_value "$other_server" CommandFactory ''
}

for step in "$@"; do
  case $step in
    installed) check_installed ;;
    configured) check_configured ;;
    access) check_access ;;
    fresh-user) check_fresh_user ;;
    user-folder) check_user_folder ;;
    removed) check_removed ;;
    unconfigured) check_unconfigured ;;
    seed-earlier-choice) seed_earlier_choice ;;
    earlier-choice-kept) check_earlier_choice_kept ;;
    seed-shared-layout) seed_shared_layout ;;
    shared-layout-left) check_shared_layout_left ;;
    seed-shared-link) seed_shared_link ;;
    shared-link-untouched) check_shared_link_untouched ;;
    *) echo "$0: unknown step '$step'" >&2; exit 2 ;;
  esac
done
exit "$status"
