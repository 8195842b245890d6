; How GroupWise learns that Quillet extends it: the entries of GroupWise's own C3PO registration,
; written by the installer and removed by the uninstaller from this one list.
;
; The layout is that of "C3PO Registration" in GroupWise's C3PO SDK, as the registry code that the
; SDK's C3PO wizard generates writes it:
;   HKLM\SOFTWARE\Novell\GroupWise\5.0\C3PO\DataTypes\<context>\<ProgID of the C3POServer>
; with a subkey "Objects" whose value names (empty strings) are the objects the server hands out
; in that context, and a subkey "Events" whose value names are the client events it wants.
; GroupWise picks up the servers registered at a context and at every context above it up to
; "GW", so a server registered for a message type also serves that type's subtypes
; (GW.MESSAGE.MAIL.Internet, GW.MESSAGE.MAIL.NGW.DISCUSS, ...).
;
; Quillet's command factory puts its menu into the windows of every message type, so it is
; registered for each of the six message types the SDK names.
; The event monitor is registered for the client with its shutdown event, so that Quillet ends
; with GroupWise. The value name "OnShutDown" follows the SDK's overview (OnReady, OnDelivery,
; OnShutDown); to be checked against a GroupWise client, as the wizard's samples only show
; OnReady.
;
; GroupWise is a 32-bit program: the 32-bit installer writes these keys where it reads them (the
; 32-bit view of the registry).

!define C3PO_PROGID "QUILLET.C3PO"
!define C3PO_DATATYPES "SOFTWARE\Novell\GroupWise\5.0\C3PO\DataTypes"

; Calls the macro named _entry once for every entry: context, subkey, value name.
!macro C3POEntries _entry
  !insertmacro ${_entry} "GW.MESSAGE.APPOINTMENT" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.MESSAGE.DOCUMENTREFERENCE" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.MESSAGE.MAIL" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.MESSAGE.NOTE" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.MESSAGE.PHONE" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.MESSAGE.TASK" "Objects" "CommandFactory"
  !insertmacro ${_entry} "GW.CLIENT" "Objects" "EventMonitor"
  !insertmacro ${_entry} "GW.CLIENT" "Events" "OnShutDown"
!macroend

!macro C3POWriteEntry _context _subkey _name
  WriteRegStr HKLM "${C3PO_DATATYPES}\${_context}\${C3PO_PROGID}\${_subkey}" "${_name}" ""
!macroend

; Removes Quillet's key of the context, and the context's key when nothing else is registered
; there.
!macro C3PODeleteEntry _context _subkey _name
  DeleteRegKey HKLM "${C3PO_DATATYPES}\${_context}\${C3PO_PROGID}"
  DeleteRegKey /ifempty HKLM "${C3PO_DATATYPES}\${_context}"
!macroend

!macro RegisterC3PO
  !insertmacro C3POEntries C3POWriteEntry
!macroend

; On a machine without GroupWise the keys above the contexts were made by the installer, and go
; when they hold nothing else.
!macro UnregisterC3PO
  !insertmacro C3POEntries C3PODeleteEntry
  DeleteRegKey /ifempty HKLM "${C3PO_DATATYPES}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Novell\GroupWise\5.0\C3PO"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Novell\GroupWise\5.0"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Novell\GroupWise"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Novell"
!macroend
