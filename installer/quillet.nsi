; The installer of Quillet (NSIS 3), a 32-bit program like the programs it installs:
;   makensis -XTarget x86-unicode -DPAYLOAD=DIR -DOUTFILE=FILE -DVERSION=V installer/quillet.nsi
; PAYLOAD holds quillet.exe and the PGP program with its GnuPG parts (see PgpProgramFiles), all
; 32-bit. Silent with /S, for installing and for uninstalling.

!ifndef PAYLOAD | OUTFILE | VERSION
  !error "Define PAYLOAD, OUTFILE and VERSION on the command line (-DPAYLOAD=... and so on)."
!endif

; The PGP folder holds the PGP program; GnuPG keeps its key rings there, and Quillet, which works
; in the PGP program's folder, its key listings and temporary files. It belongs to all users of
; the machine, so $APPDATA is read for all users.
!define PGP_FOLDER "$APPDATA\Quillet\PGP"
!define PGP_PROGRAM "${PGP_FOLDER}\pgp.exe"
!define CONFIGURATION "$WINDIR\quillet.ini"
!define RUN_LOG "C:\quillet.log"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet"
!define CLSID "{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}"
; The users of the machine (BUILTIN\Users), by SID, which every language of Windows knows.
!define USERS_SID "*S-1-5-32-545"

Unicode true
Name "Quillet"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Quillet"
; A new version goes where the last one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!include LogicLib.nsh
!include FileFunc.nsh
!include TextFunc.nsh
!include StrFunc.nsh
!include WordFunc.nsh
!include "c3po_keys.nsh"

${StrStr}

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The PGP program and the GnuPG programs it runs, which GPGME finds beside it.
!macro PgpProgramFiles _do
  !insertmacro ${_do} "pgp.exe"
  !insertmacro ${_do} "gpg.exe"
  !insertmacro ${_do} "gpg-agent.exe"
  !insertmacro ${_do} "gpgconf.exe"
  !insertmacro ${_do} "gpgme-w32spawn.exe"
!macroend

; What Quillet itself writes into the PGP folder, other than the attachments' files (see
; un.RemoveAttachmentFiles): the key listings with the keys of their lines, the batch file that
; writes them, and the files of the mail body on its way through PGP, with the partial files a PGP
; run killed while writing would leave.
!macro QuilletPgpFolderFiles _do
  !insertmacro ${_do} "quillet.key"
  !insertmacro ${_do} "quillet.sec"
  !insertmacro ${_do} "quillet.key.ids"
  !insertmacro ${_do} "quillet.sec.ids"
  !insertmacro ${_do} "pgpkey.bat"
  !insertmacro ${_do} "temppgp"
  !insertmacro ${_do} "temppgp.asc"
  !insertmacro ${_do} "temppgp.partial"
  !insertmacro ${_do} "temppgp.asc.partial"
!macroend

!macro InstallPgpFile _name
  File "${PAYLOAD}/${_name}"
!macroend

!macro DeletePgpFolderFile _name
  Delete "${PGP_FOLDER}\${_name}"
!macroend

; Ends the installation with an error: shown, and the exit code 2 for a silent run.
!macro Fail _message
  DetailPrint "${_message}"
  MessageBox MB_OK|MB_ICONSTOP "${_message}" /SD IDOK
  SetErrorLevel 2
  Abort
!macroend

; Lets the users of the machine change _path (and, with inheritance flags in _rights, what is
; created in it). Quillet runs as the user who reads mail, not as the one who installed it.
!macro GrantUsersModify _path _rights
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${_path}" /grant ${USERS_SID}:${_rights}'
  Pop $0
  ${If} $0 != 0
    !insertmacro Fail "The users of this computer could not be allowed to write to ${_path} (icacls: $0)."
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; The batch file that lists the key rings, in the form the program's own setup writes it: the
; PGP program (quoted only when its path has a blank), run in the PGP folder.
Function WriteKeyListBatch
  StrCpy $0 "${PGP_PROGRAM}"
  ${StrStr} $1 $0 " "
  ${If} $1 != ""
    StrCpy $0 '"$0"'
  ${EndIf}
  ClearErrors
  FileOpen $2 "${PGP_FOLDER}\pgpkey.bat" w
  FileWrite $2 "$0 -kvc > quillet.key$\r$\n"
  FileWrite $2 "$0 -kvc secring.pgp > quillet.sec$\r$\n"
  FileClose $2
  ${If} ${Errors}
    !insertmacro Fail "Could not write ${PGP_FOLDER}\pgpkey.bat."
  ${EndIf}
FunctionEnd

; quillet.ini names the PGP program, so that the first use needs no setup; a user's own choice of
; PGP program is kept, so an existing file is left as it is. The four lines are those the
; program's setup writes.
Function WriteConfiguration
  ${If} ${FileExists} "${CONFIGURATION}"
    DetailPrint "Kept ${CONFIGURATION}: it names the PGP program already chosen."
    Return
  ${EndIf}
  ClearErrors
  FileOpen $0 "${CONFIGURATION}" w
  FileWrite $0 "$INSTDIR\quillet.exe$\r$\n"
  FileWrite $0 "${PGP_PROGRAM}$\r$\n"
  FileWrite $0 "Quillet keeps the location of the PGP program here.$\r$\n"
  FileWrite $0 "Do not delete.  Required by QUILLET program$\r$\n"
  FileClose $0
  ${If} ${Errors}
    !insertmacro Fail "Could not write ${CONFIGURATION}."
  ${EndIf}
FunctionEnd

; The program registers itself as an automation server; its registry entries are checked in the
; view of the registry that matches its processor, which is the installer's own.
Function RegisterServer
  ExecWait '"$INSTDIR\quillet.exe" /regserver' $0
  ReadRegStr $1 HKCR "${C3PO_PROGID}\Clsid" ""
  ReadRegStr $2 HKCR "CLSID\${CLSID}\LocalServer32" ""
  ; The server's path may be quoted.
  StrCpy $3 $2
  ${If} $2 == '"$INSTDIR\quillet.exe"'
    StrCpy $3 "$INSTDIR\quillet.exe"
  ${EndIf}
  ${If} $0 != 0
  ${OrIf} $1 != "${CLSID}"
  ${OrIf} $3 != "$INSTDIR\quillet.exe"
    !insertmacro Fail "quillet.exe did not register itself as an automation server (exit code $0)."
  ${EndIf}
  DetailPrint "Registered ${C3PO_PROGID}: $2"
FunctionEnd

Section "Quillet"
  SetOutPath "$INSTDIR"
  File "${PAYLOAD}/quillet.exe"
  ; The uninstaller comes first, so that whatever fails later can be removed.
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillet"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillet"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillet.exe"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  CreateDirectory "${PGP_FOLDER}"
  !insertmacro GrantUsersModify "${PGP_FOLDER}" "(OI)(CI)M"
  SetOutPath "${PGP_FOLDER}"
  !insertmacro PgpProgramFiles InstallPgpFile
  Call WriteKeyListBatch

  ; The program appends to the run log and fails a PGP run without it; it never creates it.
  ; Opening for appending creates a missing log and leaves an existing one as it is.
  ClearErrors
  FileOpen $0 "${RUN_LOG}" a
  FileClose $0
  ${If} ${Errors}
    !insertmacro Fail "Could not create ${RUN_LOG}."
  ${EndIf}
  !insertmacro GrantUsersModify "${RUN_LOG}" "M"

  Call WriteConfiguration
  Call RegisterServer
  !insertmacro RegisterC3PO

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${GetSize} "${PGP_FOLDER}" "/M=*.exe /S=0K /G=0" $3 $1 $2
  IntOp $0 $0 + $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The files a PGP run leaves for an attachment: "doc" + index, with ".asc" and a killed run's
; ".partial" after it. Other files whose names begin with "doc" are the user's.
Function un.RemoveAttachmentFiles
  FindFirst $0 $1 "${PGP_FOLDER}\doc*"
  ${DoWhile} $1 != ""
    StrCpy $2 $1 "" 3
    StrCpy $3 $2 "" -8
    ${If} $3 == ".partial"
      StrCpy $2 $2 -8
    ${EndIf}
    StrCpy $3 $2 "" -4
    ${If} $3 == ".asc"
      StrCpy $2 $2 -4
    ${EndIf}
    ${StrFilter} $2 "1" "" "" $3
    ${If} $2 != ""
    ${AndIf} $2 == $3
      Delete "${PGP_FOLDER}\$1"
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; quillet.ini goes only while it still names the PGP program installed here.
Function un.RemoveConfiguration
  ClearErrors
  FileOpen $0 "${CONFIGURATION}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  FileRead $0 $1
  FileRead $0 $1
  FileClose $0
  ${un.TrimNewLines} $1 $1
  ${If} $1 == "${PGP_PROGRAM}"
    Delete "${CONFIGURATION}"
  ${Else}
    DetailPrint "Kept ${CONFIGURATION}: it names another PGP program ($1)."
  ${EndIf}
FunctionEnd

; The run log goes when nothing was ever written to it; otherwise it is the user's record.
Function un.RemoveRunLog
  ClearErrors
  FileOpen $0 "${RUN_LOG}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  FileSeek $0 0 END $1
  FileClose $0
  ${If} $1 == 0
    Delete "${RUN_LOG}"
  ${Else}
    DetailPrint "Kept the run log ${RUN_LOG}."
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\quillet.exe"
    ExecWait '"$INSTDIR\quillet.exe" /unregserver'
  ${EndIf}
  !insertmacro UnregisterC3PO
  Call un.RemoveConfiguration

  ; An agent of the PGP folder would hold gpg-agent.exe open.
  ${If} ${FileExists} "${PGP_FOLDER}\gpgconf.exe"
    nsExec::ExecToLog '"${PGP_FOLDER}\gpgconf.exe" --homedir "${PGP_FOLDER}" --kill gpg-agent'
    Pop $0
  ${EndIf}
  !insertmacro PgpProgramFiles DeletePgpFolderFile
  !insertmacro QuilletPgpFolderFiles DeletePgpFolderFile
  Call un.RemoveAttachmentFiles
  Delete "${PGP_FOLDER}\S.gpg-agent*"
  ; The user's key rings and GnuPG's other files stay, and with them the folder.
  RMDir "${PGP_FOLDER}"
  RMDir "$APPDATA\Quillet"
  ${If} ${FileExists} "${PGP_FOLDER}\*.*"
    DetailPrint "Your PGP key rings are kept in ${PGP_FOLDER}."
    MessageBox MB_OK|MB_ICONINFORMATION "Your PGP key rings are kept in ${PGP_FOLDER}." /SD IDOK
  ${EndIf}

  Call un.RemoveRunLog
  Delete "$INSTDIR\quillet.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
