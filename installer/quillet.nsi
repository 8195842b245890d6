; The installer of Quillet (NSIS 3), a 32-bit program like the programs it installs:
;   makensis -XTarget x86-unicode -DPAYLOAD=DIR -DOUTFILE=FILE -DVERSION=V installer/quillet.nsi
; PAYLOAD holds quillet.exe and the PGP program with its GnuPG parts (see PgpProgramFiles), all
; 32-bit. Silent with /S, for installing and for uninstalling.

!ifndef PAYLOAD | OUTFILE | VERSION
  !error "Define PAYLOAD, OUTFILE and VERSION on the command line (-DPAYLOAD=... and so on)."
!endif

; Programs live only where administrators alone may write: quillet.exe in the installation
; folder, the PGP program's master copy and the GnuPG programs in its GnuPG folder. Each user has a
; PGP folder of their own in their profile, which Quillet makes on first use with a copy of the
; PGP program: quillet.ini names it through %APPDATA%, expanded for each user as it is read, and
; the PGP program finds GnuPG through the registry entry GnuPG. Nothing the product runs or reads
; as configuration is in a folder that another standard user could change.
!define GNUPG_FOLDER "$INSTDIR\GnuPG"
!define USER_PGP_PROGRAM "%APPDATA%\Quillet\PGP\pgp.exe"
!define CONFIGURATION "$WINDIR\quillet.ini"
!define RUN_LOG "C:\quillet.log"
!define SETTINGS_KEY "Software\Quillet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet"
!define CLSID "{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}"
; Earlier versions kept one PGP folder for all users, which every user could change; $APPDATA is
; read for all users (C:\ProgramData).
!define SHARED_FOLDER "$APPDATA\Quillet"
!define SHARED_PGP_FOLDER "${SHARED_FOLDER}\PGP"

; Access lists (SDDL), owned by the Administrators. The installation: administrators and the
; system change it, the users read and run it. The run log: the users may append to it (what
; the program asks for, FILE_APPEND_DATA and SYNCHRONIZE) but neither read nor change it. The
; earlier shared PGP folder: administrators and the system alone.
!define PROGRAMS_ACCESS "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
!define RUN_LOG_ACCESS "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x100004;;;BU)"
!define ADMINISTRATORS_ACCESS "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400

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
!include WordFunc.nsh
!include "c3po_keys.nsh"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The PGP program and the GnuPG programs it runs.
!macro PgpProgramFiles _do
  !insertmacro ${_do} "pgp.exe"
  !insertmacro ${_do} "gpg.exe"
  !insertmacro ${_do} "gpg-agent.exe"
  !insertmacro ${_do} "gpgconf.exe"
  !insertmacro ${_do} "gpgme-w32spawn.exe"
!macroend

; What Quillet wrote into the earlier shared PGP folder, other than the attachments' files (see
; RemoveAttachmentFiles): the key listings with the keys of their lines, the batch file that
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

!macro DeleteSharedFolderFile _name
  Delete "${SHARED_PGP_FOLDER}\${_name}"
!macroend

; An agent of a user may still hold gpg-agent.exe open; it goes when Windows starts next.
!macro DeleteGnupgFolderFile _name
  Delete /REBOOTOK "${GNUPG_FOLDER}\${_name}"
!macroend

; Ends the installation with an error: shown, and the exit code 2 for a silent run.
!macro Fail _message
  DetailPrint "${_message}"
  MessageBox MB_OK|MB_ICONSTOP "${_message}" /SD IDOK
  SetErrorLevel 2
  Abort
!macroend

; Gives _path the access list _sddl, replacing what it had and what it inherited.
!macro SetAccess _path _sddl
  Push "${_sddl}"
  Push "${_path}"
  Call SetAccess
!macroend

Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Function SetAccess
  Exch $0  ; the path
  Exch
  Exch $1  ; the access list
  Push $2
  Push $3
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, i 1, *p .r2, p 0) i .r3'
  ${If} $3 != 0
    ; OWNER_SECURITY_INFORMATION and DACL_SECURITY_INFORMATION
    System::Call 'advapi32::SetFileSecurityW(w r0, i 5, p r2) i .r3'
    System::Call 'kernel32::LocalFree(p r2)'
  ${EndIf}
  ${If} $3 == 0
    !insertmacro Fail "The access list of $0 could not be set."
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Fails the installation unless _path is a folder of its own (not a link or junction to another)
; that belongs to the Administrators, to the system or to the one who installs: another user could
; otherwise change what is done in it, or have it done somewhere else.
!macro RequireOwnFolder _path
  Push "${_path}"
  Call RequireOwnFolder
!macroend

Function RequireOwnFolder
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  System::Call 'kernel32::GetFileAttributesW(w r0) i .r1'
  IntOp $2 $1 & ${FILE_ATTRIBUTE_REPARSE_POINT}
  IntOp $3 $1 & ${FILE_ATTRIBUTE_DIRECTORY}
  ${If} $1 == -1
  ${OrIf} $2 != 0
  ${OrIf} $3 == 0
    !insertmacro Fail "$0 is a link or not a folder; nothing was changed in it. Remove it, then install again."
  ${EndIf}
  ; SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION
  System::Call 'advapi32::GetNamedSecurityInfoW(w r0, i 1, i 1, *p .r1, p 0, p 0, p 0, *p .r2) i .r3'
  ${If} $3 != 0
    !insertmacro Fail "The owner of $0 could not be read (error $3); nothing was changed in it."
  ${EndIf}
  ; WinBuiltinAdministratorsSid, WinLocalSystemSid
  System::Call 'advapi32::IsWellKnownSid(p r1, i 26) i .r3'
  ${If} $3 == 0
    System::Call 'advapi32::IsWellKnownSid(p r1, i 22) i .r3'
  ${EndIf}
  ${If} $3 == 0
    ; The user of the installer's token (TOKEN_QUERY, TokenUser): its SID is TOKEN_USER's first
    ; field.
    System::Call 'kernel32::GetCurrentProcess() p .r4'
    System::Call 'advapi32::OpenProcessToken(p r4, i 8, *p .r4) i .r5'
    ${If} $5 != 0
      System::Alloc 512
      Pop $5
      System::Call 'advapi32::GetTokenInformation(p r4, i 1, p r5, i 512, *i 0 .r6) i .r3'
      ${If} $3 != 0
        System::Call '*$5(p .r6)'
        System::Call 'advapi32::EqualSid(p r1, p r6) i .r3'
      ${EndIf}
      System::Free $5
      System::Call 'kernel32::CloseHandle(p r4)'
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::LocalFree(p r2)'
  ${If} $3 == 0
    !insertmacro Fail "$0 belongs to another user; nothing was changed in it. Remove it, then install again."
  ${EndIf}
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; quillet.ini names each user's own PGP program, so that the first use needs no setup. A choice
; made before is kept, so an existing file is left as it is, unless it names the PGP program of
; the earlier shared folder, which is no longer run. The four lines are those the program's setup
; writes.
Function WriteConfiguration
  ClearErrors
  FileOpen $0 "${CONFIGURATION}" r
  ${IfNot} ${Errors}
    FileRead $0 $1
    FileRead $0 $1
    FileClose $0
    ${TrimNewLines} $1 $1
    ${If} $1 != "${SHARED_PGP_FOLDER}\pgp.exe"
      DetailPrint "Kept ${CONFIGURATION}: it names the PGP program already chosen ($1)."
      Return
    ${EndIf}
  ${EndIf}
  ClearErrors
  FileOpen $0 "${CONFIGURATION}" w
  FileWrite $0 "$INSTDIR\quillet.exe$\r$\n"
  FileWrite $0 "${USER_PGP_PROGRAM}$\r$\n"
  FileWrite $0 "Quillet keeps the location of the PGP program here.$\r$\n"
  FileWrite $0 "Do not delete.  Required by QUILLET program$\r$\n"
  FileClose $0
  ${If} ${Errors}
    !insertmacro Fail "Could not write ${CONFIGURATION}."
  ${EndIf}
FunctionEnd

; The files a PGP run left in the earlier shared folder for an attachment: "doc" + index, with
; ".asc" and a killed run's ".partial" after it. Other files whose names begin with "doc" are
; the users'.
Function RemoveAttachmentFiles
  FindFirst $0 $1 "${SHARED_PGP_FOLDER}\doc*"
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
      Delete "${SHARED_PGP_FOLDER}\$1"
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; Gives the folder on the stack, and everything in it, to the administrators alone. A link
; inside is not followed: the installation stops there.
Function NarrowTree
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  !insertmacro SetAccess "$R0" "${ADMINISTRATORS_ACCESS}"
  FindFirst $R1 $R2 "$R0\*"
  ${DoWhile} $R2 != ""
    ${If} $R2 != "."
    ${AndIf} $R2 != ".."
      System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
      IntOp $R3 $R3 & ${FILE_ATTRIBUTE_REPARSE_POINT}
      ${If} $R3 != 0
        !insertmacro Fail "$R0\$R2 is a link; it was not followed. Remove it, then install again."
      ${EndIf}
      System::Call 'kernel32::GetFileAttributesW(w "$R0\$R2") i .R3'
      IntOp $R3 $R3 & ${FILE_ATTRIBUTE_DIRECTORY}
      ${If} $R3 != 0
        Push "$R0\$R2"
        Call NarrowTree
      ${Else}
        !insertmacro SetAccess "$R0\$R2" "${ADMINISTRATORS_ACCESS}"
      ${EndIf}
    ${EndIf}
    FindNext $R1 $R2
  ${Loop}
  FindClose $R1
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; An earlier version's shared PGP folder, which every user could change: its programs and
; Quillet's files go, its key rings stay for the administrators alone. The folder above it is
; narrowed first, so that nobody can put a link in the PGP folder's place meanwhile.
Function LeaveSharedFolder
  System::Call 'kernel32::GetFileAttributesW(w "${SHARED_PGP_FOLDER}") i .r0'
  ${If} $0 == -1
    Return
  ${EndIf}
  !insertmacro RequireOwnFolder "${SHARED_FOLDER}"
  !insertmacro SetAccess "${SHARED_FOLDER}" "${ADMINISTRATORS_ACCESS}"
  !insertmacro RequireOwnFolder "${SHARED_PGP_FOLDER}"
  Push "${SHARED_PGP_FOLDER}"
  Call NarrowTree
  !insertmacro PgpProgramFiles DeleteSharedFolderFile
  !insertmacro QuilletPgpFolderFiles DeleteSharedFolderFile
  Delete "${SHARED_PGP_FOLDER}\gpgconf.ctl"
  Call RemoveAttachmentFiles
  DetailPrint "The programs were removed from the earlier shared PGP folder ${SHARED_PGP_FOLDER}."
  DetailPrint "Its key rings stay there, for administrators alone. Every user of this computer could read them until now: treat the keys in them as known to all of them. Import the keys you still trust into your own PGP folder (pgp -ka), and revoke the rest."
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
  ; First, so that a folder the installation refuses to work on leaves the machine as it was.
  Call LeaveSharedFolder
  ; A folder that is there already may have been made by another user.
  ${If} ${FileExists} "$INSTDIR\*.*"
    !insertmacro RequireOwnFolder "$INSTDIR"
  ${EndIf}
  CreateDirectory "$INSTDIR"
  ; Before anything goes in, which takes the folder's list up.
  !insertmacro SetAccess "$INSTDIR" "${PROGRAMS_ACCESS}"
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

  SetOutPath "${GNUPG_FOLDER}"
  !insertmacro PgpProgramFiles InstallPgpFile
  WriteRegStr HKLM "${SETTINGS_KEY}" "GnuPG" "${GNUPG_FOLDER}"
  ; Whatever runs from here on runs in the installation folder.
  SetOutPath "$INSTDIR"

  ; The program appends to the run log and fails a PGP run without it; it cannot create it.
  ; Opening for appending creates a missing log and leaves an existing one as it is; one the
  ; installation made goes with it.
  System::Call 'kernel32::GetFileAttributesW(w "${RUN_LOG}") i .r0'
  IntOp $1 $0 & ${FILE_ATTRIBUTE_REPARSE_POINT}
  ${If} $0 != -1
  ${AndIf} $1 != 0
    !insertmacro Fail "${RUN_LOG} is a link; nothing was changed in it. Remove it, then install again."
  ${EndIf}
  ${If} $0 == -1
    WriteRegStr HKLM "${SETTINGS_KEY}" "RunLog" "made"
  ${EndIf}
  ClearErrors
  FileOpen $0 "${RUN_LOG}" a
  FileClose $0
  ${If} ${Errors}
    !insertmacro Fail "Could not create ${RUN_LOG}."
  ${EndIf}
  !insertmacro SetAccess "${RUN_LOG}" "${RUN_LOG_ACCESS}"

  Call WriteConfiguration
  Call RegisterServer
  !insertmacro RegisterC3PO

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

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
  ${If} $1 == "${USER_PGP_PROGRAM}"
    Delete "${CONFIGURATION}"
  ${Else}
    DetailPrint "Kept ${CONFIGURATION}: it names another PGP program ($1)."
  ${EndIf}
FunctionEnd

; The run log goes when the installation made it; one that was there before stays.
Function un.RemoveRunLog
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "RunLog"
  ${If} $0 == "made"
    Delete "${RUN_LOG}"
  ${Else}
    DetailPrint "Kept the run log ${RUN_LOG}, which was there before Quillet was installed."
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\quillet.exe"
    ExecWait '"$INSTDIR\quillet.exe" /unregserver'
  ${EndIf}
  !insertmacro UnregisterC3PO
  Call un.RemoveConfiguration
  Call un.RemoveRunLog
  DeleteRegKey HKLM "${SETTINGS_KEY}"

  !insertmacro PgpProgramFiles DeleteGnupgFolderFile
  RMDir "${GNUPG_FOLDER}"
  Delete "$INSTDIR\quillet.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The users' folders are theirs: nothing is run from them, and nothing in them is removed.
  StrCpy $0 "Each user's PGP keys stay in that user's own PGP folder, %APPDATA%\Quillet\PGP (for example C:\Users\NAME\AppData\Roaming\Quillet\PGP)."
  ${If} ${FileExists} "${SHARED_PGP_FOLDER}\*.*"
    StrCpy $0 "$0 The key rings of the earlier shared PGP folder stay in ${SHARED_PGP_FOLDER}, for administrators alone."
  ${EndIf}
  DetailPrint "$0"
  MessageBox MB_OK|MB_ICONINFORMATION "$0" /SD IDOK
SectionEnd
